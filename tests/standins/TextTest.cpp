// The stand-ins' pure text handling: hostile bytes and the mount table (udev's hex escapes are
// the made-up machine's, in FakeMachineTest).
#include "MountInfo.h"
#include "Text.h"

#include <gtest/gtest.h>


using namespace standins;

namespace {

const std::string fffd = "\xEF\xBF\xBD";

TEST(Text, RepairUtf8KeepsValidTextAndReplacesEachIllFormedSubpart)
{
    for (const auto &[input, expected] : std::vector<std::pair<std::string, std::string>>{
             {"\xE3\x83\x87 \xF0\x9F\x92\xBE", "\xE3\x83\x87 \xF0\x9F\x92\xBE"}, // three and four bytes
             {"a\xFF" "b\x80\x80", "a" + fffd + "b" + fffd + fffd}, // bad lead, stray continuations
             {"\xC0\xAF\xE0\x80\xAF", fffd + fffd + fffd + fffd + fffd}, // overlong forms
             {"\xED\xA0\x80", fffd + fffd + fffd},            // UTF-16 surrogate
             {"\xF4\x90\x80\x80", fffd + fffd + fffd + fffd}, // above U+10FFFF
             {"\xE3\x83" "x", fffd + "x"},                    // truncated: one replacement
             {"end\xF0\x9F\x92", "end" + fffd}})
        EXPECT_EQ(repairUtf8(input), expected) << "input bytes: " << input;
}

// Kernel names by number value are the listing's (FakeMachineTest); the order stays strict even
// for names equal by value, as std::sort needs.
TEST(Text, NaturalLessIsAStrictOrderForNamesEqualByValue)
{
    EXPECT_NE(naturalLess("sd01", "sd1"), naturalLess("sd1", "sd01"));
    EXPECT_FALSE(naturalLess("loop3", "loop3"));
}

// Each well-formed line as "id parent major:minor root [super options] listing line".
TEST(MountInfo, ParsesKernelLinesAndListsEachMountOnOneLine)
{
    std::vector<std::string> seen;
    for (const MountEntry &e : parseMountInfo(
             "27 1 254:0 / / rw,relatime shared:1 master:2 - ext4 /dev/vda rw,discard\n"
             "45 27 259:0 / /media/My\\040Disk rw,nosuid,nodev,relatime - fuseblk /dev/loop3p1 rw,rootcontext=u,allow_other\n"
             "46 27 0:50 /sub /srv/bind ro,relatime - tmpfs  rw\n" // no source: the fields stay in place
             "49 27 8:2 / /data rw - ext4 /dev/sda2 rw,errors=remount-ro\n"
             "garbage line\n"
             "47 27 x:1 / /bad rw - ext4 /dev/sdz rw\n"
             "48 27 8:1 / /no/separator rw ext4 /dev/sda1 rw\n"
             "46 27 259:1 / /media/Data rw,noexec - ext4 /dev/sdb1 ro\n"
             // Three octal digits within a byte only: a line break, a tab, a backslash, a UTF-8 letter.
             "47 27 8:1 / /media/a\\012b\\011\\134\\343\\203\\207\\089\\777\\04x\\04 ro - vfat /dev/sdc1 ro\n"
             "48 27 8:2 / /media/x rw,no\rexec - fuse\rblk /dev/sdd1 rw\n"))
        seen.push_back(std::to_string(e.id) + " " + std::to_string(e.parentId) + " " + std::to_string(e.major) + ":"
                       + std::to_string(e.minor) + " " + e.root + " [" + e.superOptions + "] " + formatMountLine(e));
    // "ro" counts only as a whole option; line breaks in names and fields stay escaped.
    EXPECT_EQ(seen, (std::vector<std::string>{
                        "27 1 254:0 / [rw,discard] /dev/vda on / (ext4, relatime)",
                        "45 27 259:0 / [rw,rootcontext=u,allow_other] /dev/loop3p1 on /media/My Disk (fuseblk, nosuid, nodev, relatime)",
                        "46 27 0:50 /sub [rw]  on /srv/bind (tmpfs, read-only, relatime)",
                        "49 27 8:2 / [rw,errors=remount-ro] /dev/sda2 on /data (ext4)",
                        "46 27 259:1 / [ro] /dev/sdb1 on /media/Data (ext4, read-only, noexec)",
                        "47 27 8:1 / [ro] /dev/sdc1 on /media/a\\012b\t\\\xE3\x83\x87\\089\\777\\04x\\04 (vfat, read-only)",
                        "48 27 8:2 / [rw] /dev/sdd1 on /media/x (fuse\\015blk, no\\015exec)",
                    }));
}

} // namespace
