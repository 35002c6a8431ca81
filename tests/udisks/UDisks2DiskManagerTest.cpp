// The disk model on udisks2: a real udisksd, polkitd and bus of the tests' own, NTFS images on
// loop devices, and throw-away accounts (tests/support/UDisksStack.h). Root only, one at a time.
#include "StandinHarness.h"
#include "disks/DiskManager.h"
#include "disks/FailureAdvice.h"
#include "shell/HelperShell.h"
#include "support/TestSupport.h"
#include "support/UDisksStack.h"

#include <QFileInfo>

#include <gtest/gtest.h>

using namespace standins::testing;
using namespace testsupport;

namespace {

const QString kNtfs3g = QStringLiteral("/usr/bin/ntfs-3g");
constexpr QFile::Permissions kGroupAndOthers(0x077);

QByteArray contentsOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(cannot open)");
}

// A GPT disk with NTFS "Alpha", NTFS "Beta データ" and ext4 on a loop device, and a disk model on
// the stack's udisks2.
class UDisks2DiskManagerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (const QString why = UDisksStack::skipReason(); !why.isEmpty())
            GTEST_SKIP() << why.toStdString();
        dir = std::make_unique<TempDir>();
        loop = attachDisk("disk.img", {"Alpha", "Beta データ"});
        Platform profile = linuxProfile();
        profile.opener = QStringLiteral("/bin/true"); // no file browser in tests
        manager = std::make_unique<DiskManager>(ModelEnvironment{
            profile, std::make_shared<HelperShell>(profile), std::make_shared<SystemFileProbe>(), stack().bus()});
        await(manager->scanDisks());
    }

    void TearDown() override
    {
        manager.reset();
        if (dir)
            removeWhere(under(dir->path())); // also unmounts what udisks2 mounted under /media
    }

    static UDisksStack &stack() { return UDisksStack::shared(); }

    // An image of an NTFS partition for each of one or two labels and an ext4 one after them, on a loop device,
    // once udisks2 knows them all.
    std::string attachDisk(const std::string &image, const std::vector<std::string> &labels)
    {
        const std::string ntfs = ",12M,EBD0A0A2-B9E5-4433-87C0-68B6B72699C7\\n", ext4 = std::to_string(labels.size() + 1);
        step("truncate -s 40M " + *dir / image + " && printf 'label: gpt\\n" + (labels.size() > 1 ? ntfs : "") + ntfs
             + ",,L\\n' | sfdisk -q " + *dir / image);
        const std::string name = attachLoop(*dir / image, int(labels.size()) + 1);
        for (std::size_t i = 0; i < labels.size(); ++i)
            step("mkntfs -Q -q -L '" + labels[i] + "' /dev/" + name + "p" + std::to_string(i + 1));
        step("mkfs.ext4 -q /dev/" + name + "p" + ext4);
        stack().settle(name, QStringList(labels.size(), QStringLiteral("ntfs")) << QStringLiteral("ext4"));
        return name;
    }

    QString node(int partition) const { return QString::fromStdString(loop) + "p" + QString::number(partition); }
    std::optional<NTFSDisk> disk(const QString &deviceNode) const
    {
        for (const NTFSDisk &d : manager->disks())
            if (d.deviceNode == deviceNode)
                return d;
        return std::nullopt;
    }
    NTFSDisk disk(int partition) const { return disk(node(partition)).value_or(NTFSDisk{}); }
    // A change the model was not asked to scan for shows within a second of udisks2 having it.
    bool shows(const std::function<bool()> &condition) { return processEventsUntil(condition, 1000); }

    std::unique_ptr<TempDir> dir;
    std::string loop;
    std::unique_ptr<DiskManager> manager;
};

} // namespace

TEST_F(UDisks2DiskManagerTest, ListsNtfsVolumesAndFollowsDisksPluggedUnpluggedAndMountedElsewhere)
{
    EXPECT_EQ(disk(node(1)), (NTFSDisk{node(1), "Alpha", 12 * 1024 * 1024, std::nullopt, false, "ntfs"}));
    EXPECT_EQ(disk(2).volumeName, QString::fromUtf8("Beta データ"));
    EXPECT_FALSE(disk(node(3))) << "the ext4 partition is no NTFS volume";

    const std::string other = attachDisk("other.img", {"Gamma"});
    const QString gamma = QString::fromStdString(other) + "p1";
    EXPECT_TRUE(shows([&] { return disk(gamma).has_value(); }));
    step("partx -d /dev/" + other + " && losetup -d /dev/" + other + " && for i in $(seq 300); do udisksctl info -b /dev/"
         + gamma.toStdString() + " >/dev/null 2>&1 || exit 0; sleep 0.1; done; exit 1");
    EXPECT_TRUE(shows([&] { return !disk(gamma).has_value(); }));

    // Mounted read-only by another program (a file manager): the real flags show.
    step("udisksctl mount --no-user-interaction -o ro -b /dev/" + node(1).toStdString() + " >/dev/null");
    ASSERT_TRUE(shows([&] { return disk(1).mountPoint.has_value(); }));
    EXPECT_FALSE(disk(1).isWritable);
}

// The system's read-only mount goes for ntfs-3g's read-write one; a busy volume stays mounted, names
// its holders and loses nothing; udisks2 removes the directory it made.
TEST_F(UDisks2DiskManagerTest, RemountsReadWriteThroughNtfs3gAndABusyVolumeLosesNothing)
{
    step("udisksctl mount --no-user-interaction -o ro -b /dev/" + node(1).toStdString() + " >/dev/null");
    await(manager->scanDisks());
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
    EXPECT_EQ(contentsOf(*disk(1).mountPoint + "/open.txt"), "still open");
    EXPECT_EQ(await(manager->unmount(disk(1))), std::nullopt);
}

TEST_F(UDisks2DiskManagerTest, HibernatedWindowsVolumeIsTakenDownExplainedAndMountedReadOnlyInstead)
{
    // A hibernation file with its signature: ntfs-3g then mounts read-only, and says it succeeded.
    step("mkdir " + *dir / "raw" + " && ntfs-3g /dev/" + node(2).toStdString() + " " + *dir / "raw"
         + " && { printf HIBR; head -c 4092 /dev/zero; } > " + *dir / "raw/hiberfil.sys" + " && umount " + *dir / "raw");
    const auto error = await(manager->mountReadWrite(disk(2), kNtfs3g));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, DiskError::MountFailed);
    EXPECT_TRUE(error->description.startsWith("Mount failed: ")) << error->description.toStdString();
    EXPECT_EQ(error->explanation, FailureAdvice::offerReadOnly({}, FailureAdvice::ReadOnlyCause::Hibernated).explanation);
    EXPECT_EQ(error->remedy, DiskError::Remedy::MountReadOnly);
    EXPECT_FALSE(disk(2).mountPoint);
    EXPECT_EQ(sh("findmnt -n --source /dev/" + node(2).toStdString()).standardOutput, "");

    ASSERT_EQ(await(manager->mountReadOnly(disk(2), kNtfs3g)), std::nullopt);
    ASSERT_TRUE(disk(2).mountPoint);
    EXPECT_FALSE(disk(2).isWritable);
    EXPECT_EQ(contentsOf(*disk(2).mountPoint + "/hiberfil.sys").left(4), "HIBR");
    EXPECT_EQ(await(manager->unmount(disk(2))), std::nullopt);
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
    EXPECT_EQ(QFileInfo(mounted.mid(3)).permissions() & kGroupAndOthers, 0) << "the volume itself is private too";
    for (const auto &[program, argument] : {std::pair{"/bin/cat", path}, {"/bin/ls", mounted.mid(3)}}) {
        const auto other = stack().run(stack().otherAccount(), program, {argument});
        EXPECT_TRUE(other->waitForFinished() && other->exitCode() != 0) << program << " by another account";
    }

    const int mountPrompts = agent.prompts;
    EXPECT_EQ(ask("unmount " + node(1)), "ok");
    EXPECT_TRUE(ask("mount " + node(1)).startsWith("ok /media/"));
    EXPECT_EQ(ask("unmount " + node(1)), "ok");
    EXPECT_EQ(agent.prompts, mountPrompts) << agent.transcript.toStdString();
}
