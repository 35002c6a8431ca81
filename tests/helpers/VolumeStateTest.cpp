// The reader of a volume's state as an ordinary desktop user's session runs it: pkexec
// libexec/quorvel-ntfs-mount/volume-state /dev/NODE, allowed by the shipped action's defaults.
#include "StandinHarness.h"
#include "support/TestSupport.h"
#include "support/UDisksStack.h"
#include "support/WindowsJournal.h"

#include <gtest/gtest.h>

using namespace standins::testing;
using namespace testsupport;

namespace {

// A fresh volume, on a disk of 4 KiB sectors, is clean, with no password asked; one whose journal
// Windows left open is dirty, and clean again once Windows closed it; one a shrink leaves marked
// for Windows to check is dirty; what is not a block device directly under /dev is refused, unread.
TEST(VolumeStateTest, AnActiveUserReadsWhetherAVolumeIsDirtyWithoutAPassword)
{
    if (const QString why = UDisksStack::skipReason(); !why.isEmpty())
        GTEST_SKIP() << why.toStdString();
    TempDir dir;
    const std::string image = dir / "disk.img";
    step("truncate -s 16M " + image + " && printf 'label: gpt\\n,12M,EBD0A0A2-B9E5-4433-87C0-68B6B72699C7\\n' | sfdisk -q " + image);
    const std::shared_ptr<void> detach(nullptr, [&](void *) { removeWhere(under(image)); });
    const std::string name = attachLoop(image, 1) + "p1", node = "/dev/" + name;
    step("mkntfs -q -f -Q -s 4096 " + node);

    // One line of standard input, a device, is one pkexec run; what it says, then "exit STATUS".
    const TestAccount &account = UDisksStack::shared().account();
    const auto user = UDisksStack::shared().run(account, "/bin/sh", {"-c", "while read -r device; do /usr/bin/pkexec "
        "\"$0\" \"$device\" 2>&1; echo \"exit $?\"; done", QUORVEL_TEST_BUILD_LIBEXEC "/volume-state"});
    PromptAgent agent(account, user->processId());
    ASSERT_EQ(agent.error, QString());
    auto ask = [&](const std::string &device) {
        user->write(QByteArray::fromStdString(device + "\n"));
        QByteArray said;
        processEventsUntil([&] { return (said += user->readAllStandardOutput()).contains("exit ") && said.endsWith('\n'); }, 60000);
        return said.toStdString();
    };

    const std::string clean = ask(node);
    if (clean.find("Error accessing") != std::string::npos)
        GTEST_SKIP() << "the build tree is out of the test account's reach: " << clean;
    EXPECT_EQ(clean, "clean\nexit 0\n");
    ASSERT_NO_FATAL_FAILURE(writeJournal(node, Journal::Open));
    EXPECT_EQ(ask(node), "dirty\nexit 0\n");
    ASSERT_NO_FATAL_FAILURE(writeJournal(node, Journal::Closed));
    EXPECT_EQ(ask(node), "clean\nexit 0\n");
    step("ntfsresize -f -s 10M " + node + " </dev/null >/dev/null && ntfsinfo -f -m " + node + " 2>/dev/null | grep -q 'Volume Flags:.*DIRTY'");
    EXPECT_EQ(ask(node), "dirty\nexit 0\n");
    EXPECT_EQ(ask("/dev/null"), "volume-state: /dev/null: not a block device\nexit 2\n");
    EXPECT_EQ(ask("/dev/stdin"), "volume-state: /dev/stdin: not a block device\nexit 2\n"); // a link
    EXPECT_EQ(ask("/dev/../dev/" + name), "usage: volume-state /dev/NAME (a block device directly under /dev)\nexit 64\n");
    EXPECT_EQ(agent.prompts, 0) << agent.transcript.toStdString();
    user->closeWriteChannel();
    user->waitForFinished(10000);
}

} // namespace
