// The disk model on udisks2: a real udisksd, polkitd and bus of the tests' own, NTFS images on
// loop devices, and throw-away accounts (tests/support/UDisksStack.h). Root only, one at a time.
#include "linux/DeviceFixture.h"

#include "disks/FailureAdvice.h"
#include "support/UDisksStack.h"

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
// stays mounted, names its holders and loses nothing; udisks2 removes the directory it made.
TEST_F(UDisks2DiskManagerTest, FollowsVolumesAndRemountsOneReadWriteThatLosesNothingWhenBusy)
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
    holder.write("still open");
    holder.flush();
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
    ASSERT_EQ(await(manager->mountReadWrite(disk(1), kNtfs3g)), std::nullopt);
    QFile written(*disk(1).mountPoint + "/open.txt");
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    EXPECT_EQ(written.readAll(), "still open");
    written.close(); // or the volume is busy
    EXPECT_EQ(await(manager->unmount(disk(1))), std::nullopt);
}

TEST_F(UDisks2DiskManagerTest, HibernatedWindowsVolumeIsTakenDownExplainedAndMountedReadOnlyInstead)
{
    // A hibernation file with its signature: ntfs-3g then mounts read-only, and says it succeeded.
    hibernate(2);
    ASSERT_NO_FATAL_FAILURE(
        expectRefused(disk(2), FailureAdvice::offerReadOnly({}, FailureAdvice::ReadOnlyCause::Hibernated).explanation));
}

// As a desktop user with the desktop's polkit rules: the disk was set up by root, so udisks2 takes
// it for a system disk and asks once (and keeps the answer); the user's own mount unmounts
// without a question, and no other account can look into the volume.
TEST_F(UDisks2DiskManagerTest, AnOrdinaryUserIsAskedAtMostOnceAndKeepsTheVolumeToThemselves)
{
    const auto user = stack().run(stack().account(), QStringLiteral(QUORVEL_UDISKS_SESSION));
    ASSERT_NE(user->processId(), 0) << user->errorString().toStdString();
    const auto ask = [&](const QString &command) {
        user->write(command.toUtf8() + '\n');
        processEventsUntil([&] { return user->canReadLine() || user->state() == QProcess::NotRunning; }, 60000);
        return user->canReadLine() ? QString::fromUtf8(user->readLine()).trimmed()
                                   : "(no answer) " + QString::fromUtf8(user->readAllStandardError());
    };
    // With nobody to ask for the password, the mount reads as cancelled, as a dismissed prompt does.
    const QString refused = ask("mount " + node(1));
    EXPECT_TRUE(refused.startsWith("error 3 Mount failed: User canceled.")) << refused.toStdString();

    PromptAgent agent(stack().account(), user->processId());
    ASSERT_EQ(agent.error, QString());
    const QString mounted = ask("mount " + node(1));
    ASSERT_TRUE(mounted.startsWith("ok /media/" + stack().account().name + "/")) << mounted.toStdString()
                                                                                << agent.transcript.toStdString();
    EXPECT_LE(agent.prompts, 1);
    const QString path = mounted.mid(3) + "/mine.txt";
    writeFile(path.toStdString(), "private");
    EXPECT_EQ(QFileInfo(path).ownerId(), stack().account().uid);
    EXPECT_EQ(QFileInfo(mounted.mid(3)).permissions() & QFile::Permissions(0x077), 0) << "the volume itself is private too";
    const auto other = stack().run(stack().otherAccount(), QStringLiteral("/bin/cat"), {path});
    EXPECT_TRUE(other->waitForFinished() && other->exitCode() != 0) << "another account reads the file";

    const int mountPrompts = agent.prompts;
    EXPECT_EQ(ask("unmount " + node(1)), "ok");
    EXPECT_TRUE(ask("mount " + node(1)).startsWith("ok /media/"));
    EXPECT_EQ(ask("unmount " + node(1)), "ok");
    EXPECT_EQ(agent.prompts, mountPrompts) << agent.transcript.toStdString();
}
