#include "Text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

using namespace standins;

namespace {

const std::string fffd = "\xEF\xBF\xBD";

TEST(RepairUtf8, KeepsValidTextAndReplacesEachIllFormedSubpart)
{
    struct Case {
        std::string input, expected;
    };
    const std::vector<Case> cases = {
        {"plain ASCII", "plain ASCII"},
        {"\xE3\x83\x87\xE3\x83\xBC\xE3\x82\xBF", "\xE3\x83\x87\xE3\x83\xBC\xE3\x82\xBF"}, // データ
        {"\xF0\x9F\x92\xBE disk", "\xF0\x9F\x92\xBE disk"},                              // U+1F4BE
        {std::string("a\0b", 3), std::string("a\0b", 3)},                               // NUL is valid UTF-8
        {"a\xFF" "b", "a" + fffd + "b"},
        {"\x80\x80", fffd + fffd},                       // stray continuation bytes, one each
        {"\xC0\xAF", fffd + fffd},                       // overlong "/" is two bad bytes
        {"\xE0\x80\xAF", fffd + fffd + fffd},            // overlong three-byte form
        {"\xED\xA0\x80", fffd + fffd + fffd},            // UTF-16 surrogate D800
        {"\xF4\x90\x80\x80", fffd + fffd + fffd + fffd}, // above U+10FFFF
        {"\xE3\x83" "x", fffd + "x"},                    // truncated sequence: one replacement
        {"end\xE3\x83", "end" + fffd},                   // truncated at the very end
        {"\xF0\x9F\x92", fffd},
    };
    for (const auto &c : cases)
        EXPECT_EQ(repairUtf8(c.input), c.expected) << "input bytes: " << c.input;
}

TEST(DecodeEscapes, DecodesTheKernelsOctalAndUdevsHexEscapesOnly)
{
    for (const auto &[input, expected] : std::vector<std::pair<std::string, std::string>>{
             {"/media/My\\040Disk", "/media/My Disk"},
             {"tab\\011nl\\012bs\\134end", "tab\tnl\nbs\\end"},
             {"\\343\\203\\207", "\xE3\x83\x87"}, // the bytes of a UTF-8 letter
             {"a\\04", "a\\04"},                   // not three octal digits, or beyond a byte: left alone
             {"a\\089", "a\\089"},
             {"a\\777", "a\\777"},
             {"trailing\\", "trailing\\"}})
        EXPECT_EQ(decodeOctalEscapes(input), expected);
    EXPECT_EQ(decodeHexEscapes("My\\x20Disk \\x22quoted\\x22\\x2f"), "My Disk \"quoted\"/");
    EXPECT_EQ(decodeHexEscapes("bad\\xZZ\\x4"), "bad\\xZZ\\x4");
}

TEST(NaturalLess, OrdersKernelNamesByNumberValue)
{
    std::vector<std::string> names = {"sda10", "loop10", "sdb", "nvme10n1", "loop2", "sda", "sda2",
                                      "nvme0n1", "loop0", "sdaa", "mmcblk1", "mmcblk0", "nvme0n10", "nvme0n2"};
    std::sort(names.begin(), names.end(), [](const auto &a, const auto &b) { return naturalLess(a, b); });
    EXPECT_EQ(names, (std::vector<std::string>{"loop0", "loop2", "loop10", "mmcblk0", "mmcblk1", "nvme0n1", "nvme0n2",
                                               "nvme0n10", "nvme10n1", "sda", "sda2", "sda10", "sdaa", "sdb"}));
    // A strict order even for names equal by value.
    EXPECT_NE(naturalLess("sd01", "sd1"), naturalLess("sd1", "sd01"));
    EXPECT_FALSE(naturalLess("loop3", "loop3"));
}

} // namespace
