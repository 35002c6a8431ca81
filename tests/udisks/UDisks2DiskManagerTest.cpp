// The disk model on udisks2: a real udisksd, polkitd and bus of the tests' own, NTFS images on
// loop devices, and throw-away accounts (tests/support/UDisksStack.h). Root only, one at a time.
#include "StandinHarness.h"
#include "disks/DiskManager.h"
#include "disks/FailureAdvice.h"
#include "shell/HelperShell.h"
#include "support/PromptAgent.h"
#include "support/TestSupport.h"
#include "support/UDisksStack.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>

#include <iostream>

using namespace standins::testing;
using namespace testsupport;

namespace {

const QString kNtfs3g = QStringLiteral("/usr/bin/ntfs-3g");

// The file system type and flags of the mount at `directory`, "" when nothing is mounted there.
std::string mountAt(const QString &directory)
{
    return sh("findmnt -n -o FSTYPE,OPTIONS --mountpoint '" + directory.toStdString() + "'").standardOutput;
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
        loop = attachDisk("disk.img", "Alpha", QString::fromUtf8("Beta データ"), true);
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

    // Attaches an image of NTFS volumes (and an ext4 one) and waits until udisks2 knows them.
    std::string attachDisk(const std::string &image, const QString &first, const QString &second = {}, bool ext4 = false)
    {
        std::string table = "label: gpt\\n,16M,EBD0A0A2-B9E5-4433-87C0-68B6B72699C7\\n";
        QStringList types{QStringLiteral("ntfs")};
        if (!second.isEmpty()) {
            table += ",16M,EBD0A0A2-B9E5-4433-87C0-68B6B72699C7\\n";
            types << QStringLiteral("ntfs");
        }
        if (ext4) {
            table += ",,L\\n";
            types << QStringLiteral("ext4");
        }
        step("truncate -s 40M " + *dir / image + " && printf '" + table + "' | sfdisk -q " + *dir / image);
        const std::string name = attachLoop(*dir / image, int(types.size()));
        step("mkntfs -Q -q -L '" + first.toStdString() + "' /dev/" + name + "p1");
        if (!second.isEmpty())
            step("mkntfs -Q -q -L '" + second.toStdString() + "' /dev/" + name + "p2");
        if (ext4)
            step("mkfs.ext4 -q /dev/" + name + "p3");
        stack().settle(name, types);
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
    // Waits for the model to show a change it was not asked to scan for.
    bool shows(const std::function<bool()> &condition) { return processEventsUntil(condition, 10000); }

    std::unique_ptr<TempDir> dir;
    std::string loop;
    std::unique_ptr<DiskManager> manager;
};

} // namespace

TEST_F(UDisks2DiskManagerTest, ListsNtfsVolumesAndFollowsDisksAttachedRemovedAndMountedElsewhere)
{
    EXPECT_EQ(disk(node(1)), (NTFSDisk{node(1), "Alpha", 16 * 1024 * 1024, std::nullopt, false, "ntfs"}));
    ASSERT_TRUE(disk(node(2)));
    EXPECT_EQ(disk(node(2))->volumeName, QString::fromUtf8("Beta データ"));
    EXPECT_FALSE(disk(node(3))) << "the ext4 partition is no NTFS volume";

    // A disk plugged in, and taken out again, while the model runs.
    const std::string other = attachDisk("other.img", "Gamma");
    const QString gamma = QString::fromStdString(other) + "p1";
    ASSERT_TRUE(shows([&] { return disk(gamma).has_value(); }));
    step("partx -d /dev/" + other + " && losetup -d /dev/" + other);
    ASSERT_TRUE(shows([&] { return !disk(gamma).has_value(); }));

    // Mounted read-only by another program (a file manager): the real flags show.
    step("udisksctl mount --no-user-interaction -o ro -b /dev/" + node(1).toStdString() + " >/dev/null");
    ASSERT_TRUE(shows([&] { return disk(node(1))->mountPoint.has_value(); }));
    EXPECT_FALSE(disk(node(1))->isWritable);
}

TEST_F(UDisks2DiskManagerTest, RemountsTheSystemsReadOnlyMountReadWriteThroughNtfs3gAndUnmounts)
{
    step("udisksctl mount --no-user-interaction -o ro -b /dev/" + node(1).toStdString() + " >/dev/null");
    ASSERT_EQ(await(manager->mountReadWrite(*disk(node(1)), kNtfs3g)), std::nullopt);
    const NTFSDisk mounted = *disk(node(1));
    ASSERT_TRUE(mounted.mountPoint && mounted.isWritable);
    EXPECT_EQ(mountAt(*mounted.mountPoint).substr(0, 8), "fuseblk ");
    QFile file(*mounted.mountPoint + "/kept.txt");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("written through the model");
    file.close();

    ASSERT_EQ(await(manager->unmount(mounted)), std::nullopt);
    EXPECT_FALSE(disk(node(1))->mountPoint);
    EXPECT_FALSE(QFile::exists(*mounted.mountPoint)) << "udisks2 removes the directory it made";

    ASSERT_EQ(await(manager->mountReadWrite(*disk(node(1)), kNtfs3g)), std::nullopt);
    QFile again(*disk(node(1))->mountPoint + "/kept.txt");
    ASSERT_TRUE(again.open(QIODevice::ReadOnly));
    EXPECT_EQ(again.readAll(), "written through the model");
    again.close();
    EXPECT_EQ(await(manager->unmount(*disk(node(1)))), std::nullopt);
}

TEST_F(UDisks2DiskManagerTest, HibernatedWindowsVolumeIsTakenDownExplainedAndMountedReadOnlyInstead)
{
    // A hibernation file with its signature: ntfs-3g then mounts read-only, and says it succeeded.
    step("mkdir " + *dir / "raw" + " && ntfs-3g /dev/" + node(2).toStdString() + " " + *dir / "raw"
         + " && { printf HIBR; head -c 4092 /dev/zero; } > " + *dir / "raw/hiberfil.sys" + " && umount " + *dir / "raw");
    const auto error = await(manager->mountReadWrite(*disk(node(2)), kNtfs3g));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, DiskError::MountFailed);
    EXPECT_TRUE(error->description.startsWith("Mount failed: ")) << error->description.toStdString();
    EXPECT_FALSE(disk(node(2))->mountPoint);
    EXPECT_EQ(sh("findmnt -n --source /dev/" + node(2).toStdString()).standardOutput, "");
    // Explained from the hibernation file, and offered read-only instead: that mount is kept.
    EXPECT_EQ(error->explanation,
              FailureAdvice::offerReadOnly({}, FailureAdvice::ReadOnlyCause::Hibernated).explanation);
    EXPECT_EQ(error->remedy, DiskError::Remedy::MountReadOnly);
    ASSERT_EQ(await(manager->mountReadOnly(*disk(node(2)), kNtfs3g)), std::nullopt);
    ASSERT_TRUE(disk(node(2))->mountPoint);
    EXPECT_FALSE(disk(node(2))->isWritable);
    QFile hibernation(*disk(node(2))->mountPoint + "/hiberfil.sys");
    ASSERT_TRUE(hibernation.open(QIODevice::ReadOnly));
    EXPECT_EQ(hibernation.read(4), "HIBR");
    hibernation.close();
    EXPECT_EQ(await(manager->unmount(*disk(node(2)))), std::nullopt);
}

TEST_F(UDisks2DiskManagerTest, BusyVolumeStaysMountedAndLosesNothing)
{
    ASSERT_EQ(await(manager->mountReadWrite(*disk(node(1)), kNtfs3g)), std::nullopt);
    QFile holder(*disk(node(1))->mountPoint + "/open.txt");
    ASSERT_TRUE(holder.open(QIODevice::ReadWrite));
    holder.write("still open");
    holder.flush();
    QProcess sleeper; // and a child working in the volume: the error names both
    sleeper.setWorkingDirectory(*disk(node(1))->mountPoint);
    sleeper.start("sleep", {"600"});
    ASSERT_TRUE(sleeper.waitForStarted());

    expectBusyNamingHolders(await(manager->unmount(*disk(node(1)))), sleeper.processId());
    EXPECT_TRUE(disk(node(1))->isWritable) << "still mounted after the rescan";

    sleeper.kill();
    sleeper.waitForFinished();
    holder.close();
    ASSERT_EQ(await(manager->unmount(*disk(node(1)))), std::nullopt);
    ASSERT_EQ(await(manager->mountReadWrite(*disk(node(1)), kNtfs3g)), std::nullopt);
    QFile again(*disk(node(1))->mountPoint + "/open.txt");
    ASSERT_TRUE(again.open(QIODevice::ReadOnly));
    EXPECT_EQ(again.readAll(), "still open");
}

// As a desktop user with the desktop's polkit rules: the disk was set up by root, so udisks2 takes
// it for a system disk and asks once (and keeps the answer); the user's own mount unmounts
// without a question, and no other account can look into the volume.
TEST_F(UDisks2DiskManagerTest, AnOrdinaryUserIsAskedAtMostOnceAndKeepsTheVolumeToThemselves)
{
    manager.reset();
    auto user = stack().run(stack().account(), QStringLiteral(QUORVEL_UDISKS_SESSION));
    ASSERT_NE(user->processId(), 0) << user->errors().toStdString();
    const auto ask = [&](const QString &command) {
        user->writeLine(command);
        return user->nextLine().value_or(QStringLiteral("(no answer) ") + user->errors());
    };
    // With nobody to ask for the password, the mount reads as cancelled, as a dismissed prompt does.
    const QString refused = ask("mount " + node(1));
    EXPECT_TRUE(refused.startsWith("error 3 Mount failed: User canceled.")) << refused.toStdString();

    PromptAgent agent(stack().account());
    ASSERT_EQ(agent.start(user->processId()), QString());

    ASSERT_EQ(ask("mount " + node(1)), "ok") << agent.transcript().toStdString();
    EXPECT_LE(agent.prompts(), 1);
    const QString written = ask("write " + node(1) + " mine.txt private");
    ASSERT_TRUE(written.startsWith("ok /media/" + stack().account().name() + "/")) << written.toStdString();
    const QString path = written.mid(3);
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
    EXPECT_EQ(st.st_uid, stack().account().uid());
    ASSERT_EQ(::stat(QFile::encodeName(path.section('/', 0, -2)).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 077, 0u) << "the volume itself is private, not only the directory it is in";
    for (const QString &program : {QStringLiteral("/bin/cat"), QStringLiteral("/bin/ls")}) {
        auto other = stack().run(stack().otherAccount(), program, {program.endsWith("cat") ? path : path.section('/', 0, -2)});
        EXPECT_NE(other->finish(), 0) << program.toStdString() << " by another account";
    }

    const int mountPrompts = agent.prompts();
    EXPECT_EQ(ask("unmount " + node(1)), "ok");
    EXPECT_EQ(ask("mount " + node(1)), "ok");
    EXPECT_EQ(ask("unmount " + node(1)), "ok");
    EXPECT_EQ(agent.prompts(), mountPrompts) << agent.transcript().toStdString();
    EXPECT_EQ(user->finish(), 0) << user->errors().toStdString();
    std::cout << "password prompts: first mount " << mountPrompts << ", unmounts and the second mount "
              << agent.prompts() - mountPrompts << " (" << agent.actions().join(", ").toStdString()
              << "); polkit was asked about " << stack().requestedActions().join(", ").toStdString() << std::endl;
}
