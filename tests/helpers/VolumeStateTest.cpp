// The reader of a volume's state, run directly (the desktop user's runs through pkexec, allowed by
// the shipped action with no password, are the udisks2 stack's test): it reads the dirty flag and
// the journal, on a disk of 4 KiB sectors too, and refuses what is no block device directly under
// /dev, unread.
#include "StandinHarness.h"
#include "support/TestSupport.h"
#include "support/WindowsJournal.h"

#include <gtest/gtest.h>

using namespace standins::testing;

namespace {

TEST(VolumeStateTest, ReadsTheDirtyFlagAndTheJournalOfABlockDeviceDirectlyUnderDevOnly)
{
    if (const QString why = testsupport::realDeviceSkipReason(); !why.isEmpty())
        GTEST_SKIP() << why.toStdString();
    TempDir dir;
    const std::string image = dir / "disk.img";
    step("truncate -s 16M " + image + " && printf 'label: gpt\\n,12M,EBD0A0A2-B9E5-4433-87C0-68B6B72699C7\\n' | sfdisk -q " + image);
    const std::shared_ptr<void> detach(nullptr, [&](void *) { removeWhere(under(image)); });
    const std::string name = attachLoop(image, 1) + "p1", node = "/dev/" + name;
    step("mkntfs -q -f -Q -s 4096 " + node);
    const auto ask = [](const std::string &device) { // what it says, then "exit STATUS"
        const auto run = standins::runProgram({QUORVEL_TEST_BUILD_LIBEXEC "/volume-state", device}, {});
        return run.standardOutput + run.standardError + "exit " + std::to_string(run.exitCode) + "\n";
    };

    EXPECT_EQ(ask(node), "clean\nexit 0\n");
    ASSERT_NO_FATAL_FAILURE(writeJournal(node, Journal::Open));
    EXPECT_EQ(ask(node), "dirty\nexit 0\n");
    ASSERT_NO_FATAL_FAILURE(writeJournal(node, Journal::Closed));
    EXPECT_EQ(ask(node), "clean\nexit 0\n");
    step("ntfsresize -f -s 10M " + node + " </dev/null >/dev/null && ntfsinfo -f -m " + node + " 2>/dev/null | grep -q 'Volume Flags:.*DIRTY'");
    EXPECT_EQ(ask(node), "dirty\nexit 0\n");
    EXPECT_EQ(ask("/dev/null"), "volume-state: /dev/null: not a block device\nexit 2\n");
    EXPECT_EQ(ask("/dev/stdin"), "volume-state: /dev/stdin: not a block device\nexit 2\n"); // a link
    EXPECT_EQ(ask("/dev/../dev/" + name), "usage: volume-state /dev/NAME (a block device directly under /dev)\nexit 64\n");
}

} // namespace
