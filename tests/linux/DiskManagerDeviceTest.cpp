// Volumes the disk model must not write to, on real devices through the Linux stand-ins (mounts,
// writes, busy and pulled disks are the soak's, tests/soak).
#include "linux/DeviceFixture.h"

#include "disks/FailureAdvice.h"
#include "disks/NtfsVolume.h"

#include <QtEndian>

namespace {

// Sets the dirty flag of the NTFS volume on `device`, as a Windows that crashed leaves it: in the
// $VOLUME_INFORMATION of $Volume (file 3), in the master file table and in its mirror.
void markDirty(const std::string &device)
{
    QFile volume(QString::fromStdString(device));
    ASSERT_TRUE(volume.open(QIODevice::ReadWrite | QIODevice::Unbuffered));
    const QByteArray boot = volume.read(512);
    const auto le = [](const QByteArray &bytes, qint64 offset, auto type) {
        return qint64(qFromLittleEndian<decltype(type)>(bytes.constData() + offset));
    };
    const qint64 cluster = le(boot, 0x0B, quint16()) * le(boot, 0x0D, quint8());
    const qint64 record = boot[0x40] > 0 ? boot[0x40] * cluster : qint64(1) << -boot[0x40];
    for (const int field : {0x30, 0x38}) {
        const qint64 where = le(boot, field, qint64()) * cluster + 3 * record;
        ASSERT_TRUE(volume.seek(where));
        QByteArray file = volume.read(record);
        qint64 attribute = le(file, 0x14, quint16());
        while (attribute < record - 8 && le(file, attribute, quint32()) != 0x70)
            attribute += le(file, attribute + 4, quint32());
        ASSERT_LT(attribute, record - 8) << "no volume information";
        file[attribute + le(file, attribute + 0x14, quint16()) + 0x0A] |= 1;
        ASSERT_TRUE(volume.seek(where));
        ASSERT_EQ(volume.write(file), record);
    }
}

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
    const std::string raw = *dir / "raw";
    step("dd if=/dev/zero of=" + device(1) + " bs=512 count=1 conv=notrunc status=none");
    hibernate(2);
    ASSERT_NO_FATAL_FAILURE(markDirty(device(3)));

    using FailureAdvice::ReadOnlyCause;
    const QString hibernated = FailureAdvice::offerReadOnly({}, ReadOnlyCause::Hibernated).explanation;
    const QString unclean = FailureAdvice::offerReadOnly({}, ReadOnlyCause::Unclean).explanation;
    for (const auto &[partition, explanation] : {std::pair{1, QString()}, {2, hibernated}, {3, unclean}}) {
        SCOPED_TRACE(partition);
        const auto error = await(manager->mountReadWrite(partition == 1 ? damaged : disk(partition), kNtfs3g));
        ASSERT_TRUE(error);
        EXPECT_EQ(error->code, DiskError::MountFailed);
        EXPECT_TRUE(error->description.startsWith("Mount failed: ") && error->description.size() > 14)
            << error->description.toStdString();
        EXPECT_EQ(error->explanation, explanation);
        EXPECT_EQ(error->remedy, explanation.isEmpty() ? DiskError::Remedy::None : DiskError::Remedy::MountReadOnly);
        EXPECT_EQ(entriesOf(mountRoot), QStringList());
        if (explanation.isEmpty())
            continue;
        ASSERT_EQ(await(manager->mountReadOnly(disk(partition), kNtfs3g)), std::nullopt);
        ASSERT_TRUE(disk(partition).mountPoint);
        EXPECT_FALSE(disk(partition).isWritable);
        EXPECT_FALSE(QFileInfo(*disk(partition).mountPoint).isWritable());
        ASSERT_EQ(await(manager->unmount(disk(partition))), std::nullopt);
    }
    EXPECT_EQ(NtfsVolume::isMarkedDirty(SystemFileProbe(), QString::fromStdString(device(3))), true);
    step("ntfs-3g -o ro " + device(2) + " " + raw + " && head -c 4 " + raw + "/hiberfil.sys | grep -qx HIBR && umount " + raw);
}
