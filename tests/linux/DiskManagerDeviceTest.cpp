// Volumes the disk model must not write to, on real devices through the Linux stand-ins (mounts,
// writes, busy and pulled disks are the soak's, tests/soak), and the reader of a volume's state
// that tells them apart, run directly (the desktop user's runs through pkexec, allowed by the
// shipped action with no password, are the udisks2 stack's test).
#include "linux/DeviceFixture.h"

#include "disks/FailureAdvice.h"
#include "support/WindowsJournal.h"

namespace {

class DiskManagerDeviceTest : public DeviceFixture {
protected:
    DiskManagerDeviceTest() : DeviceFixture({"Damaged", "Hibernated", "Dirty"}, 12) {}
};

// What the reader says of `device`, then "exit STATUS".
std::string askReader(const std::string &device)
{
    const auto run = standins::runProgram({QUORVEL_TEST_BUILD_LIBEXEC "/volume-state", device}, {});
    return run.standardOutput + run.standardError + "exit " + std::to_string(run.exitCode) + "\n";
}

} // namespace

// The reader tells the journal, on a volume of 4 KiB sectors too (the dirty flag is the third
// volume's refusal), and refuses what is no block device directly under /dev, unread. A damaged
// volume fails outright; those Windows still holds (hibernated, or not closed cleanly) are
// explained and offered the read-only mount, which leaves them as they were. None leaves a
// directory behind.
TEST_F(DiskManagerDeviceTest, VolumesThatMustNotBeWrittenFailWithTheirCodeAndLeaveNoDirectory)
{
    const NTFSDisk damaged = disk(1);
    step("dd if=/dev/zero of=" + device(1) + " bs=512 count=1 conv=notrunc status=none");
    step("mkntfs -q -f -Q -s 4096 -L Hibernated " + device(2));
    EXPECT_EQ(askReader(device(2)), "clean\nexit 0\n");
    ASSERT_NO_FATAL_FAILURE(writeJournal(device(2), Journal::Open));
    EXPECT_EQ(askReader(device(2)), "dirty\nexit 0\n");
    ASSERT_NO_FATAL_FAILURE(writeJournal(device(2), Journal::Closed));
    EXPECT_EQ(askReader(device(2)), "clean\nexit 0\n");
    hibernate(device(2));
    // A shrink marks the volume dirty for Windows to check, as a Windows that crashed leaves it.
    step("ntfsresize -f -s 10M " + device(3) + " </dev/null >/dev/null");
    EXPECT_EQ(askReader("/dev/null"), "volume-state: /dev/null: not a block device\nexit 2\n");
    EXPECT_EQ(askReader("/dev/stdin"), "volume-state: /dev/stdin: not a block device\nexit 2\n"); // a link
    EXPECT_EQ(askReader("/dev/../" + device(3).substr(1)),
              "usage: volume-state /dev/NAME (a block device directly under /dev)\nexit 64\n");

    using FailureAdvice::ReadOnlyCause;
    const QString hibernated = FailureAdvice::offerReadOnly({}, ReadOnlyCause::Hibernated).explanation;
    const QString unclean = FailureAdvice::offerReadOnly({}, ReadOnlyCause::Unclean).explanation;
    for (const auto &[partition, explanation] : {std::pair{1, QString()}, {2, hibernated}, {3, unclean}}) {
        SCOPED_TRACE(partition);
        ASSERT_NO_FATAL_FAILURE(expectRefused(partition == 1 ? damaged : disk(partition), explanation));
    }
}
