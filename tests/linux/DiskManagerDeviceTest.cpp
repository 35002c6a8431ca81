// Volumes the disk model must not write to, on real devices through the Linux stand-ins (mounts,
// writes, busy and pulled disks are the soak's, tests/soak).
#include "linux/DeviceFixture.h"

#include "disks/FailureAdvice.h"

namespace {

class DiskManagerDeviceTest : public DeviceFixture {
protected:
    DiskManagerDeviceTest() : DeviceFixture({"Damaged", "Hibernated", "Dirty"}, 12) {}
};

} // namespace

// A damaged volume fails outright; those Windows still holds (hibernated, or not closed cleanly)
// are explained and offered the read-only mount, which leaves them as they were. None leaves a
// directory behind.
TEST_F(DiskManagerDeviceTest, VolumesThatMustNotBeWrittenFailWithTheirCodeAndLeaveNoDirectory)
{
    const NTFSDisk damaged = disk(1);
    step("dd if=/dev/zero of=" + device(1) + " bs=512 count=1 conv=notrunc status=none");
    hibernate(device(2));
    // A shrink marks the volume dirty for Windows to check, as a Windows that crashed leaves it.
    step("ntfsresize -f -s 10M " + device(3) + " </dev/null >/dev/null");

    using FailureAdvice::ReadOnlyCause;
    const QString hibernated = FailureAdvice::offerReadOnly({}, ReadOnlyCause::Hibernated).explanation;
    const QString unclean = FailureAdvice::offerReadOnly({}, ReadOnlyCause::Unclean).explanation;
    for (const auto &[partition, explanation] : {std::pair{1, QString()}, {2, hibernated}, {3, unclean}}) {
        SCOPED_TRACE(partition);
        ASSERT_NO_FATAL_FAILURE(expectRefused(partition == 1 ? damaged : disk(partition), explanation));
    }
}
