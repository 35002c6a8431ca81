// DiskManager on the Linux profile with the real runner: discovery through the diskutil
// stand-in, read-write mounts through ntfs-3g under a scratch mount root, unmounts, failures.
// Every mount, loop device and file is removed afterwards, also when a test fails.
#include "StandinHarness.h"
#include "disks/DiskManager.h"
#include "disks/FailureAdvice.h"
#include "disks/NtfsVolume.h"
#include "shell/HelperShell.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QtEndian>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using namespace standins::testing;

namespace {

const QString kNtfs3g = "/usr/bin/ntfs-3g";

QByteArray randomBytes(int size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator::global()->fillRange(reinterpret_cast<quint32 *>(bytes.data()), size / 4);
    return bytes;
}

// Sets the dirty flag of the NTFS volume on `device`, as a Windows that crashed leaves it: in the
// $VOLUME_INFORMATION of $Volume (file 3), in the master file table and in its mirror.
void markDirty(const std::string &device)
{
    QFile volume(QString::fromStdString(device));
    ASSERT_TRUE(volume.open(QIODevice::ReadWrite | QIODevice::Unbuffered));
    const QByteArray boot = volume.read(512);
    const char *b = boot.constData();
    const qint64 cluster = qFromLittleEndian<quint16>(b + 0x0B) * qint64(quint8(boot[0x0D]));
    const qint8 code = qint8(boot[0x40]);
    const qint64 record = code > 0 ? code * cluster : qint64(1) << -code;
    for (const int field : {0x30, 0x38}) {
        const qint64 at = qFromLittleEndian<qint64>(b + field) * cluster + 3 * record;
        ASSERT_TRUE(volume.seek(at));
        QByteArray file = volume.read(record);
        ASSERT_TRUE(file.startsWith("FILE"));
        for (qint64 attribute = qFromLittleEndian<quint16>(file.constData() + 0x14);;) {
            const quint32 type = qFromLittleEndian<quint32>(file.constData() + attribute);
            ASSERT_NE(type, 0xFFFFFFFFu) << "no volume information";
            if (type == 0x70) {
                char *flags = file.data() + attribute + qFromLittleEndian<quint16>(file.constData() + attribute + 0x14) + 0x0A;
                qToLittleEndian<quint16>(qFromLittleEndian<quint16>(flags) | 1, flags);
                break;
            }
            attribute += qFromLittleEndian<quint32>(file.constData() + attribute + 4);
        }
        ASSERT_TRUE(volume.seek(at));
        ASSERT_EQ(volume.write(file), record);
    }
}

// An MBR disk image with NTFS "Alpha", NTFS 'Beta "Q" データ' and ext4, on a loop device, and
// a DiskManager on the Linux profile whose mount root is a scratch directory.
class DiskManagerDeviceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const QString reason = testsupport::realDeviceSkipReason();
        if (!reason.isEmpty())
            GTEST_SKIP() << reason.toStdString();
        dir = std::make_unique<TempDir>();
        step("truncate -s 48M " + *dir / "disk.img");
        step("printf 'label: dos\\n,14M,7\\n,14M,7\\n,,83\\n' | sfdisk -q " + *dir / "disk.img");
        loop = attachLoop(*dir / "disk.img", 3);
        step("mkntfs -q -f -Q -L Alpha /dev/" + loop + "p1");
        step("mkntfs -q -f -Q -L 'Beta \"Q\" データ' /dev/" + loop + "p2");
        step("mkfs.ext4 -q /dev/" + loop + "p3");
        mountRoot = QString::fromStdString(*dir / "media/");
        ASSERT_TRUE(QDir().mkpath(mountRoot));

        Platform profile = testsupport::linuxProfile();
        profile.mountRoot = mountRoot;
        profile.opener = "/bin/true"; // no file browser in tests
        manager = std::make_unique<DiskManager>(profile, std::make_shared<HelperShell>(profile),
                                                std::make_shared<SystemFileProbe>());
        testsupport::await(manager->scanDisks());
    }

    void TearDown() override
    {
        manager.reset();
        if (dir)
            removeWhere(under(dir->path())); // mounts go before anything below them is deleted
        dir.reset();
    }

    // The records of this test's disk, in discovery order.
    QList<NTFSDisk> ours() const
    {
        QList<NTFSDisk> out;
        for (const NTFSDisk &d : manager->disks())
            if (d.deviceNode.startsWith(QString::fromStdString(loop) + "p"))
                out << d;
        return out;
    }
    NTFSDisk ourDisk(int index) const { return ours().value(index); }

    std::unique_ptr<TempDir> dir;
    std::string loop;
    QString mountRoot;
    std::unique_ptr<DiskManager> manager;
};

} // namespace

TEST_F(DiskManagerDeviceTest, ListsExactlyTheNtfsPartitionsInOrder)
{
    const QList<NTFSDisk> disks = ours();
    ASSERT_EQ(disks.size(), 2);
    const QString node = QString::fromStdString(loop);
    EXPECT_EQ(disks[0], (NTFSDisk{node + "p1", "Alpha", 14 * 1024 * 1024, std::nullopt, false, "ntfs"}));
    EXPECT_EQ(disks[1].deviceNode, node + "p2");
    EXPECT_EQ(disks[1].volumeName, QString::fromUtf8("Beta \"Q\" データ"));
}

TEST_F(DiskManagerDeviceTest, MountsReadWriteKeepsFilesAcrossUnmountAndRemount)
{
    const NTFSDisk beta = ourDisk(1);
    ASSERT_EQ(testsupport::await(manager->mountReadWrite(beta, kNtfs3g)), std::nullopt);
    const QString directory = mountRoot + beta.volumeName;
    const NTFSDisk mounted = ourDisk(1);
    EXPECT_EQ(mounted.mountPoint, directory);
    EXPECT_TRUE(mounted.isWritable);

    // Files written through the mount belong to the user running the application…
    QMap<QString, QByteArray> written;
    for (int i = 0; i < 20; ++i) {
        const QString path = directory + QString("/file-%1.bin").arg(i);
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << file.errorString().toStdString();
        written[path] = randomBytes(4096 * (i + 1));
        file.write(written[path]);
    }
    // …and no other account can even look into the volume.
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(directory + "/file-0.bin").constData(), &st), 0);
    EXPECT_EQ(st.st_uid, ::getuid());
    ASSERT_EQ(::stat(QFile::encodeName(directory).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 077, 0u) << std::oct << st.st_mode;

    ASSERT_EQ(testsupport::await(manager->unmount(mounted)), std::nullopt);
    EXPECT_FALSE(ourDisk(1).mountPoint.has_value());
    EXPECT_FALSE(QFile::exists(directory + "/file-0.bin"));

    ASSERT_EQ(testsupport::await(manager->mountReadWrite(ourDisk(1), kNtfs3g)), std::nullopt);
    for (auto it = written.cbegin(); it != written.cend(); ++it) {
        QFile file(it.key());
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << it.key().toStdString();
        EXPECT_EQ(file.readAll(), it.value()) << it.key().toStdString();
    }
    EXPECT_EQ(testsupport::await(manager->unmount(ourDisk(1))), std::nullopt);
}

TEST_F(DiskManagerDeviceTest, DamagedVolumeFailsWithCode3AndLeavesNoDirectory)
{
    NTFSDisk alpha = ourDisk(0);
    // Wipe the boot sector: ntfs-3g refuses the volume.
    step("test -b /dev/" + loop + "p1 && dd if=/dev/zero of=/dev/" + loop + "p1 bs=512 count=1 conv=notrunc status=none");
    const auto error = testsupport::await(manager->mountReadWrite(alpha, kNtfs3g));
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->code, DiskError::MountFailed);
    EXPECT_TRUE(error->description.startsWith("Mount failed: ")) << error->description.toStdString();
    EXPECT_GT(error->description.size(), QString("Mount failed: ").size());
    EXPECT_EQ(QDir(mountRoot).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
}

TEST_F(DiskManagerDeviceTest, BusyVolumeFailsToUnmountWithCode4AndLosesNothing)
{
    ASSERT_EQ(testsupport::await(manager->mountReadWrite(ourDisk(0), kNtfs3g)), std::nullopt);
    const QString path = mountRoot + "Alpha/kept.txt";
    const QByteArray content = randomBytes(65536);
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    // Held by a file open here and by a child working in the volume: the error names both.
    QFile holder(path);
    ASSERT_TRUE(holder.open(QIODevice::ReadOnly));
    QProcess sleeper;
    sleeper.setWorkingDirectory(mountRoot + "Alpha");
    sleeper.start("sleep", {"600"});
    ASSERT_TRUE(sleeper.waitForStarted());

    testsupport::expectBusyNamingHolders(testsupport::await(manager->unmount(ourDisk(0))), sleeper.processId());
    EXPECT_TRUE(ourDisk(0).isWritable); // still mounted after the rescan

    sleeper.kill();
    sleeper.waitForFinished();
    holder.close();
    ASSERT_EQ(testsupport::await(manager->unmount(ourDisk(0))), std::nullopt);
    ASSERT_EQ(testsupport::await(manager->mountReadWrite(ourDisk(0), kNtfs3g)), std::nullopt);
    QFile again(path);
    ASSERT_TRUE(again.open(QIODevice::ReadOnly));
    EXPECT_EQ(again.readAll(), content);
    again.close();
    EXPECT_EQ(testsupport::await(manager->unmount(ourDisk(0))), std::nullopt);
}

// Volumes Windows still holds (hibernated, or not closed cleanly) are explained, never written to,
// and can be mounted read-only instead.
TEST_F(DiskManagerDeviceTest, VolumesWindowsHoldsAreExplainedAndMountReadOnlyUnchanged)
{
    const std::string alpha = "/dev/" + loop + "p1", beta = "/dev/" + loop + "p2";
    step("mkdir " + *dir / "raw" + " && ntfs-3g " + alpha + " " + *dir / "raw" + " && { printf HIBR; head -c 4092 /dev/zero; } > "
         + *dir / "raw/hiberfil.sys" + " && umount " + *dir / "raw");
    markDirty(beta);
    const auto hibernated = FailureAdvice::offerReadOnly({}, FailureAdvice::ReadOnlyCause::Hibernated);
    const auto unclean = FailureAdvice::offerReadOnly({}, FailureAdvice::ReadOnlyCause::Unclean);

    for (const auto &[index, expected] : {std::pair{0, hibernated}, std::pair{1, unclean}}) {
        SCOPED_TRACE(index);
        const auto error = testsupport::await(manager->mountReadWrite(ourDisk(index), kNtfs3g));
        ASSERT_TRUE(error);
        EXPECT_EQ(error->code, DiskError::MountFailed);
        EXPECT_TRUE(error->description.startsWith("Mount failed: ")) << error->description.toStdString();
        EXPECT_EQ(error->explanation, expected.explanation);
        EXPECT_EQ(error->remedy, DiskError::Remedy::MountReadOnly);
        EXPECT_EQ(QDir(mountRoot).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());

        ASSERT_EQ(testsupport::await(manager->mountReadOnly(ourDisk(index), kNtfs3g)), std::nullopt);
        ASSERT_TRUE(ourDisk(index).mountPoint);
        EXPECT_FALSE(ourDisk(index).isWritable);
        EXPECT_FALSE(QFileInfo(*ourDisk(index).mountPoint).isWritable());
        ASSERT_EQ(testsupport::await(manager->unmount(ourDisk(index))), std::nullopt);
    }
    // Nothing was changed on either volume.
    EXPECT_EQ(NtfsVolume::isMarkedDirty(SystemFileProbe(), QString::fromStdString(beta)), true);
    EXPECT_EQ(NtfsVolume::isMarkedDirty(SystemFileProbe(), QString::fromStdString(alpha)), false);
    step("ntfs-3g -o ro " + alpha + " " + *dir / "raw" + " && head -c 4 " + *dir / "raw/hiberfil.sys" + " | grep -qx HIBR && umount "
         + *dir / "raw");
}

// A disk pulled while mounted: the model says so once, and the mount directory does not stay
// behind. (A loop device stays while the kernel's FUSE mount holds it, so the test takes the dead
// mount down itself, as the system does for a disk that is gone, before it detaches the disk.)
TEST_F(DiskManagerDeviceTest, DiskDetachedWhileMountedIsReportedAndLeavesNothingBehind)
{
    ASSERT_EQ(testsupport::await(manager->mountReadWrite(ourDisk(0), kNtfs3g)), std::nullopt);
    const QString directory = *ourDisk(0).mountPoint;
    QList<NTFSDisk> removed;
    QObject::connect(manager.get(), &DiskManager::mountedDiskRemoved, [&](const NTFSDisk &disk) { removed << disk; });
    const std::string partition = "/dev/" + loop + "p1";
    step("pkill -KILL -f '^/usr/bin/ntfs-3g " + partition + " '; umount -l '" + directory.toStdString() + "' && losetup -d /dev/"
         + loop + " && for i in $(seq 50); do [ -e " + partition + " ] || break; sleep 0.1; done; [ ! -e " + partition + " ]");

    // Seen without a scan asked for: the device directory and the mount table are watched.
    ASSERT_TRUE(testsupport::processEventsUntil([&] { return removed.size() == 1 && !QFileInfo::exists(directory); }))
        << removed.size() << " signals; " << directory.toStdString() << " still there";
    EXPECT_EQ(removed.value(0).deviceNode, QString::fromStdString(loop) + "p1");
    // A later scan does not report it again.
    testsupport::await(manager->scanDisks());
    EXPECT_TRUE(ours().isEmpty());
    EXPECT_EQ(removed.size(), 1);
}
