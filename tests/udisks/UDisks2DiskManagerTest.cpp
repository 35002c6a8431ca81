// The disk model on udisks2: a real udisksd, polkitd and bus of the tests' own, NTFS images on
// loop devices, and throw-away accounts (tests/support/UDisksStack.h). Root only, one at a time.
#include "linux/DeviceFixture.h"

#include "disks/FailureAdvice.h"
#include "support/UDisksStack.h"
#include "support/WindowsJournal.h"

#include <QJsonDocument>
#include <QJsonObject>

using namespace testsupport;

namespace {

// NTFS "Alpha", NTFS "Beta データ" and ext4, and the disk model on the stack's udisks2.
class UDisks2DiskManagerTest : public DeviceFixture {
protected:
    UDisks2DiskManagerTest() : DeviceFixture({"Alpha", "Beta データ"}, 12) {}

    void SetUp() override
    {
        if (const QString why = UDisksStack::skipReason(); !why.isEmpty())
            GTEST_SKIP() << why.toStdString();
        bus = stack().bus();
        DeviceFixture::SetUp();
    }

    // Attached once udisks2 knows all its file systems.
    std::string attachDisk(const std::string &image, const std::vector<std::string> &labels) override
    {
        const std::string name = DeviceFixture::attachDisk(image, labels);
        stack().settle(name, QStringList(labels.size(), QStringLiteral("ntfs")) << QStringLiteral("ext4"));
        return name;
    }

    static UDisksStack &stack() { return UDisksStack::shared(); }
    // A change the model was not asked to scan for shows within a second of udisks2 having it.
    bool shows(const std::function<bool()> &condition) { return processEventsUntil(condition, 1000); }
};

} // namespace

// The NTFS volumes listed, and followed without a scan asked for as disks come and go and another
// program mounts one. That read-only mount then goes for ntfs-3g's read-write one; a busy volume
// stays mounted (never unmounted by force) and names its holders; udisks2 removes the directory it
// made.
TEST_F(UDisks2DiskManagerTest, FollowsVolumesAndRemountsOneReadWriteThatStaysUpWhenBusy)
{
    EXPECT_EQ(find(node(1)), (NTFSDisk{node(1), "Alpha", 12 * 1024 * 1024, std::nullopt, false, "ntfs"}));
    EXPECT_EQ(disk(2).volumeName, QString::fromUtf8("Beta データ"));
    EXPECT_FALSE(find(node(3))) << "the ext4 partition is no NTFS volume";

    const std::string other = attachDisk("other.img", {"Gamma"});
    const QString gamma = QString::fromStdString(other) + "p1";
    EXPECT_TRUE(shows([&] { return find(gamma).has_value(); }));
    step("partx -d /dev/" + other + " && losetup -d /dev/" + other + " && for i in $(seq 300); do udisksctl info -b /dev/"
         + gamma.toStdString() + " >/dev/null 2>&1 || exit 0; sleep 0.1; done; exit 1");
    EXPECT_TRUE(shows([&] { return !find(gamma).has_value(); }));

    // Mounted read-only by another program (a file manager): the real flags show.
    step("udisksctl mount --no-user-interaction -o ro -b /dev/" + node(1).toStdString() + " >/dev/null");
    ASSERT_TRUE(shows([&] { return disk(1).mountPoint.has_value(); }));
    EXPECT_FALSE(disk(1).isWritable);

    ASSERT_EQ(await(manager->mountReadWrite(disk(1), kNtfs3g)), std::nullopt);
    const NTFSDisk mounted = disk(1);
    ASSERT_TRUE(mounted.mountPoint && mounted.isWritable);
    QFile holder(*mounted.mountPoint + "/open.txt");
    ASSERT_TRUE(holder.open(QIODevice::ReadWrite));
    QProcess sleeper; // and a child working in the volume: the error names both
    sleeper.setWorkingDirectory(*mounted.mountPoint);
    sleeper.start("sleep", {"600"});
    ASSERT_TRUE(sleeper.waitForStarted());

    expectBusyNamingHolders(await(manager->unmount(mounted)), sleeper.processId());
    EXPECT_TRUE(disk(1).isWritable) << "still mounted after the rescan";

    sleeper.kill();
    sleeper.waitForFinished();
    holder.close();
    ASSERT_EQ(await(manager->unmount(disk(1))), std::nullopt);
    EXPECT_FALSE(disk(1).mountPoint);
    EXPECT_FALSE(QFile::exists(*mounted.mountPoint));
}

// As a desktop user with the desktop's polkit rules. A removable disk, as a USB stick is: its
// clean volume mounts read-write through ntfs-3g with the options asked for, and volumes Windows
// left marked dirty, with their journal open (after a crash, or a shutdown with Fast Startup) or
// hibernated are refused, explained and mounted read-only instead, unchanged; nothing asks for a
// password. A disk set up by root is a system disk to udisks2, which asks once (with nobody to
// ask, the mount reads as cancelled, as a dismissed prompt does) and keeps the answer; the user's
// own mount unmounts without a question, and no other account can look into the volume.
TEST_F(UDisks2DiskManagerTest, AnOrdinaryUserIsAskedAtMostOnceAndNeverToWriteWhatWindowsLeftUnclean)
{
    const std::string disk = attachDisk("removable.img", {"Clean", "Dirty", "Journal", "Hibernated"});
    const auto removable = [&](int partition) { return QString::fromStdString(disk) + "p" + QString::number(partition); };
    const auto device = [&](int partition) { return "/dev/" + removable(partition).toStdString(); };
    step("ntfsresize -f -s 10M " + device(2) + " </dev/null >/dev/null");
    ASSERT_NO_FATAL_FAILURE(writeJournal(device(3), Journal::Open));
    hibernate(device(4));
    stack().settle(disk, {"ntfs", "ntfs", "ntfs", "ntfs", "ext4"});
    const auto user = stack().run(stack().account(), QStringLiteral(QUORVEL_UDISKS_SESSION));
    const auto ask = [&](const QString &command) -> QJsonObject {
        user->write(command.toUtf8() + '\n');
        processEventsUntil([&] { return user->canReadLine() || user->state() == QProcess::NotRunning; }, 60000);
        return user->canReadLine() ? QJsonDocument::fromJson(user->readLine()).object()
                                   : QJsonObject{{"lost", QString::fromUtf8(user->readAllStandardError())}};
    };
    const auto text = [](const QJsonObject &answer) { return QJsonDocument(answer).toJson().toStdString(); };
    const QJsonObject refused = ask("mount " + node(1));
    EXPECT_TRUE(refused["description"].toString().startsWith("Mount failed: User canceled.")) << text(refused);
    PromptAgent agent(stack().account(), user->processId());
    ASSERT_EQ(agent.error, QString());

    const QJsonObject clean = ask("mount " + removable(1));
    ASSERT_TRUE(clean["writable"].toBool()) << text(clean) << agent.transcript.toStdString();
    // The kernel's FUSE mount, and the options ntfs-3g was started with (it shows few of them).
    const std::string driver = "findmnt -n -o FSTYPE,OPTIONS --mountpoint '" + clean["mountPoint"].toString().toStdString() + "'";
    EXPECT_EQ(sh(driver).standardOutput.substr(0, 11), "fuseblk rw,");
    const std::string started = sh("ps -C mount.ntfs -o args= | grep -F '" + device(1) + " '").standardOutput;
    for (const char *option : {"umask=077", "norecover", "big_writes", "uid=", "gid="})
        EXPECT_NE(started.find(option), std::string::npos) << option << " not in " << started;
    EXPECT_EQ(ask("unmount " + removable(1))["mountPoint"].toString(), "");
    using FailureAdvice::ReadOnlyCause;
    const QString unclean = FailureAdvice::offerReadOnly({}, ReadOnlyCause::Unclean).explanation;
    const QString hibernated = FailureAdvice::offerReadOnly({}, ReadOnlyCause::Hibernated).explanation;
    for (const auto &[partition, explanation] : {std::pair{2, unclean}, {3, unclean}, {4, hibernated}}) {
        SCOPED_TRACE(partition);
        const std::string checksum = "sha256sum < " + device(partition), before = sh(checksum).standardOutput;
        const QJsonObject unwritable = ask("mount " + removable(partition));
        EXPECT_EQ(unwritable["code"].toInt(), int(DiskError::MountFailed)) << text(unwritable);
        EXPECT_EQ(unwritable["explanation"].toString(), explanation) << text(unwritable);
        EXPECT_EQ(unwritable["remedy"].toInt(), int(DiskError::Remedy::MountReadOnly));
        const QJsonObject readOnly = ask("mount-ro " + removable(partition)); // refused while anything is left mounted
        EXPECT_TRUE(readOnly["mountPoint"].toString().startsWith("/media/") && !readOnly["writable"].toBool()) << text(readOnly);
        EXPECT_EQ(ask("unmount " + removable(partition))["mountPoint"].toString(), "");
        EXPECT_EQ(sh(checksum).standardOutput, before) << "the volume was written to";
    }
    EXPECT_EQ(agent.prompts, 0) << agent.transcript.toStdString();

    const QJsonObject mounted = ask("mount " + node(1));
    const QString root = mounted["mountPoint"].toString();
    ASSERT_TRUE(root.startsWith("/media/" + stack().account().name + "/")) << text(mounted) << agent.transcript.toStdString();
    EXPECT_LE(agent.prompts, 1);
    const QString path = root + "/mine.txt";
    writeFile(path.toStdString(), "private");
    EXPECT_EQ(QFileInfo(path).ownerId(), stack().account().uid);
    EXPECT_EQ(QFileInfo(root).permissions() & QFile::Permissions(0x077), 0) << "the volume itself is private too";
    const auto other = stack().run(stack().otherAccount(), QStringLiteral("/bin/cat"), {path});
    EXPECT_TRUE(other->waitForFinished() && other->exitCode() != 0) << "another account reads the file";

    const int mountPrompts = agent.prompts;
    EXPECT_EQ(ask("unmount " + node(1))["mountPoint"].toString(), "");
    EXPECT_TRUE(ask("mount " + node(1))["writable"].toBool());
    EXPECT_EQ(ask("unmount " + node(1))["mountPoint"].toString(), "");
    EXPECT_EQ(agent.prompts, mountPrompts) << agent.transcript.toStdString();
}
