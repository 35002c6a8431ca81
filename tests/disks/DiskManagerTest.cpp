// The disk model on the macOS profile against a scripted disk utility, mount table and file
// system: exact command lines and their order, the errors, what a failure undoes, and the scans.
#include "disks/DiskManager.h"
#include "disks/FailureAdvice.h"
#include "disks/MountPaths.h"
#include "support/PlistFixtures.h"
#include "support/ScriptedFileProbe.h"
#include "support/ScriptedRunner.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <unistd.h>

using namespace fixtures;
using Call = ScriptedRunner::Call;
using Kind = ScriptedRunner::Kind;

namespace {

ShellResult fail(const QString &output, int code = 1) { return ScriptedRunner::fail(output, code); }
ShellResult ok(const QByteArray &bytes) { return ScriptedRunner::ok(QString::fromUtf8(bytes)); }
Call priv(const QString &line) { return {Kind::Privileged, line}; }
QString info(const QString &node) { return "/usr/sbin/diskutil info -plist " + node; }
// An internal APFS disk, an external MBR disk with two NTFS partitions, a FAT one and two NTFS
// ones whose identifiers would change a command line, a GPT disk with EFI and a Basic Data
// partition, and an NTFS disk without a partition table.
QByteArray realisticListing()
{
    QFile file(QUORVEL_TEST_SOURCE_DIR "/support/realistic-listing.plist");
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

const QString kNtfs3g = "/opt/homebrew/bin/ntfs-3g", kList = "/usr/sbin/diskutil list -plist", kMount = "/sbin/mount ",
              kUnmount = "/usr/sbin/diskutil unmount /dev/disk4s1", kMkdir = "mkdir -p \"/Volumes/Data\"",
              kNtfs3gLine = "\"/opt/homebrew/bin/ntfs-3g\" /dev/disk4s1 \"/Volumes/Data\" -o local,allow_other,auto_xattr,backend=fskit",
              kTakeDown = "/sbin/umount \"/Volumes/Data\" && rmdir \"/Volumes/Data\"",
              kLsof = "/usr/sbin/lsof -F pcu +f -- \"/Volumes/Data\"";
// Within a prompt's time limit: the Linux stand-in may ask for the administrator password.
const Call kUnmountCall{Kind::Run, kUnmount, CommandRunner::TimeLimit::Prompt}, kOpen{Kind::Launch, "/usr/bin/open \"/Volumes/Data\""};

// What the realistic listing holds that may be offered (never the partitions with unsafe
// identifiers), and the calls of one scan of it.
const QList<NTFSDisk> kFound{{"disk4s1", "Data", 1000204886016, QString("/Volumes/Data"), false, "ntfs"},
                             {"disk4s3", "Backup", 500000000000, std::nullopt, false, "ntfs"},
                             {"disk5s2", "Win", 63813500928, std::nullopt, false, "ntfs"},
                             {"disk6", "Stick", 32017047552, QString("/Volumes/Stick"), true, "ntfs"}};
const QList<Call> kRescan{{Kind::Run, kList},           {Kind::Run, info("disk4s1")}, {Kind::Run, info("disk4s3")},
                          {Kind::Run, info("disk5s2")}, {Kind::Run, info("disk6")},   {Kind::Run, kMount}};

// The realistic machine: its listing, the found disks' details, and a mount table.
struct DiskFixture : ::testing::Test {
    std::shared_ptr<ScriptedRunner> runner = std::make_shared<ScriptedRunner>();
    std::shared_ptr<ScriptedFileProbe> files = std::make_shared<ScriptedFileProbe>();
    std::unique_ptr<DiskManager> manager;
    int published = 0; // lists the manager has published
    QList<NTFSDisk> removed;
    const NTFSDisk mounted{"disk4s1", "Data", 1000, QString("/Volumes/Data"), false, "ntfs"};
    const NTFSDisk unmounted{"disk4s1", "Data", 1000, std::nullopt, false, "ntfs"};

    void SetUp() override
    {
        runner->on(kList, ok(realisticListing()));
        for (const NTFSDisk &disk : kFound)
            runner->on(info(disk.deviceNode), ok(detail({{"VolumeName", str(disk.volumeName)}, {"FilesystemType", str("ntfs")}})));
        runner->on(kMount, ScriptedRunner::ok("/dev/disk4s1 on /Volumes/Data (ntfs, local, nodev, nosuid, read-only, noowners)\n"
                                              "fuse-t:/Stick on /Volumes/Stick (nfs, nodev, nosuid, mounted by user)"));
    }
    // A new model; `started`: once the scan it starts by itself has published its list. No calls
    // or lists counted yet.
    void makeManager(bool started = true, const Platform &platform = Platform::macOS())
    {
        published = 0;
        manager = std::make_unique<DiskManager>(platform, runner, files);
        QObject::connect(manager.get(), &DiskManager::disksChanged, [this] { ++published; });
        QObject::connect(manager.get(), &DiskManager::mountedDiskRemoved, [this](const NTFSDisk &d) { removed << d; });
        EXPECT_TRUE(!started || testsupport::processEventsUntil([this] { return published > 0 && !manager->isScanning(); }));
        runner->clearCalls();
        published = 0;
    }
    std::optional<DiskError> mount(const NTFSDisk &disk)
    {
        runner->clearCalls();
        return testsupport::await(manager->mountReadWrite(disk, kNtfs3g));
    }
};

} // namespace

TEST_F(DiskFixture, SuccessfulMountRunsTheExactLinesAndOpensBeforeTheRescan)
{
    makeManager();
    // The FUSE layer's volumes read as read-only to the system on macOS: ntfs-3g's clean words decide.
    files->readOnlyMounts = {"/Volumes/Data"};
    EXPECT_EQ(mount(mounted), std::nullopt);
    EXPECT_EQ(runner->calls(), QList<Call>({kUnmountCall, priv(kMkdir), priv(kNtfs3gLine), kOpen}) + kRescan);

    // Present but empty: still unmounts first.
    EXPECT_EQ(mount({"disk4s1", "Data", 1000, QString(), false, "ntfs"}), std::nullopt);
    EXPECT_EQ(runner->calls().first(), kUnmountCall);

    // Another volume's mount point is never mounted over.
    files->mountPoints = {"/Volumes/Data", "/Volumes/Data 1"};
    EXPECT_EQ(mount(unmounted), std::nullopt);
    EXPECT_EQ(runner->calls().mid(0, 3), QList<Call>({priv("mkdir -p \"/Volumes/Data 2\""),
                                                      priv(QString(kNtfs3gLine).replace("Data\"", "Data 2\"")),
                                                      {Kind::Launch, "/usr/bin/open \"/Volumes/Data 2\""}}));
}

// Each failing step is reported with the command's words; once the system mount is gone the list
// is rescanned, and what the mount had made is taken down again (the directory exactly once,
// whatever rmdir says; the volume too where it came up although ntfs-3g's shell was killed, or
// came up read-only: then the hibernation file, read while the volume is still up, tells why).
TEST_F(DiskFixture, AFailingStepOrAReadOnlyResultIsReportedAndWhatWasDoneUndone)
{
    makeManager();
    files->readOnlyMounts = {"/Volumes/Data"};
    files->contents["/Volumes/Data/hiberfil.sys"] = "hibr"; // as older Windows write it; "HIBR" is the devices' test
    const QString inUse = "Volume Data on disk4s1 failed to unmount: in use", canceled = "execution error: User canceled. (-128)",
                  fallback = "Falling back to read-only mount because the NTFS partition is in an unsafe state.";
    const DiskError noDirectory{DiskError::CreateDirectoryFailed, "Failed to create mount directory at /Volumes/Data: " + canceled};
    const struct {
        NTFSDisk disk;
        QString failing;
        ShellResult result;
        DiskError error;
        QList<Call> calls;
        bool comesUp = false;
    } rows[] = {
        {mounted, kUnmount, fail(inUse), {DiskError::UnmountReadOnlyFailed, "Failed to unmount existing read-only volume: " + inUse},
         {kUnmountCall}},
        {mounted, kMkdir, fail(canceled), noDirectory, QList<Call>{kUnmountCall, priv(kMkdir)} + kRescan},
        {unmounted, kMkdir, fail(canceled), noDirectory, {priv(kMkdir)}},
        {mounted, kNtfs3gLine, fail("NTFS signature is missing.", 21), {DiskError::MountFailed, "Mount failed: NTFS signature is missing."},
         QList<Call>{kUnmountCall, priv(kMkdir), priv(kNtfs3gLine), priv("rmdir \"/Volumes/Data\"")} + kRescan},
        {unmounted, kNtfs3gLine, fail(QString(), 9), {DiskError::MountFailed, "Mount failed: "},
         {priv(kMkdir), priv(kNtfs3gLine), priv(kTakeDown)}, true},
        {unmounted, kNtfs3gLine, ScriptedRunner::ok(fallback),
         FailureAdvice::offerReadOnly({DiskError::MountFailed, "Mount failed: " + fallback},
                                      FailureAdvice::ReadOnlyCause::Hibernated),
         {priv(kMkdir), priv(kNtfs3gLine), priv(kTakeDown)}, true},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.failing.toStdString());
        files->mountPoints.clear();
        runner->setHandler([&](const Call &call) -> std::optional<ShellResult> {
            if (row.comesUp && call.line == kNtfs3gLine)
                files->mountPoints.insert("/Volumes/Data");
            if (call.line == row.failing)
                return row.result;
            return call.line.startsWith("rmdir") ? std::optional(fail("rmdir: failed")) : std::nullopt;
        });
        EXPECT_EQ(mount(row.disk), row.error);
        EXPECT_EQ(runner->calls(), row.calls);
    }
}

// The unmount always rescans; a failed one names the programs that hold the volume: the user's
// as lsof lists them (it fails when it could not read everything), the others counted. Where the
// unmount keeps the mount directory (the Linux stand-in does; the macOS disk utility takes it
// away), the model removes it: only one of ours, only while it is there and no longer mounted
// on, even after a failed run.
TEST_F(DiskFixture, UnmountRescansNamesTheHoldersAndRemovesOnlyItsOwnFreeDirectory)
{
    const QString busy = "Volume Data on disk4s1 failed to unmount: dissented by PID 42";
    runner->on(kLsof, fail(QString("p42\ncPreview\nu%1\nf3\nn/Volumes/Data/a b.pdf\nf4\np7\ncmds\nu%2\nfcwd\np77\nczsh\nu%1\nfcwd")
                               .arg(::getuid()).arg(::getuid() + 1)));
    const DiskError held = FailureAdvice::offerRetry({DiskError::UnmountFailed, "Failed to unmount: " + busy},
                                                     {{{42, "Preview"}, {77, "zsh"}}, 1});
    const struct {
        const char *what, *directory;
        bool keeps, unmounts;
        QSet<QString> existing, mountPoints;
        bool removes;
    } rows[] = {
        {"taken away by the unmount", "/Volumes/Data", false, true, {"/Volumes/Data"}, {}, false},
        {"left behind", "/Volumes/Data", true, true, {"/Volumes/Data"}, {}, true},
        {"a numbered directory", "/Volumes/Data 2", true, true, {"/Volumes/Data 2"}, {}, true},
        {"gone with the unmount", "/Volumes/Data", true, true, {}, {}, false},
        {"unmount failed", "/Volumes/Data", true, false, {"/Volumes/Data"}, {"/Volumes/Data"}, false},
        {"unmount failed after unmounting", "/Volumes/Data", true, false, {"/Volumes/Data"}, {}, true},
        {"another mount beneath", "/Volumes/Data", true, true, {"/Volumes/Data"}, {"/Volumes/Data"}, false},
        {"outside the mount root", "/mnt/data", true, true, {"/mnt/data"}, {}, false},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        Platform platform = Platform::macOS();
        platform.unmountKeepsDirectory = row.keeps;
        makeManager(true, platform);
        runner->on(kUnmount, row.unmounts ? ScriptedRunner::ok() : fail(busy));
        files->existing = row.existing;
        files->mountPoints = row.mountPoints;
        const NTFSDisk disk{"disk4s1", "Data", 1000, QString(row.directory), false, "ntfs"};
        EXPECT_EQ(testsupport::await(manager->unmount(disk)), row.unmounts ? std::nullopt : std::optional(held));
        QList<Call> expected{kUnmountCall};
        if (row.removes)
            expected << priv("rmdir " + MountPaths::doubleQuoted(row.directory));
        if (!row.unmounts)
            expected << Call{Kind::Run, kLsof};
        EXPECT_EQ(runner->calls(), expected + kRescan);
    }
}

// ntfs-3g's own words, and the hibernation file's signature, choose the advice (the fallback's
// words and a signature are the failing steps' rows).
TEST(FailureAdvice, ReadOnlyCauseFromNtfs3gsWordsAndTheHibernationFile)
{
    using enum FailureAdvice::ReadOnlyCause;
    const std::tuple<const char *, QByteArray, FailureAdvice::ReadOnlyCause> rows[] = {
        {"Windows is hibernated, refused to mount.", {}, Hibernated},
        {"The disk contains an unclean file system (0, 0).\nMetadata kept in Windows cache, refused to mount.", {}, Unclean},
        {"", "wake", Unknown}, // a Windows that resumed
    };
    for (const auto &[output, hibernationFile, cause] : rows)
        EXPECT_EQ(FailureAdvice::readOnlyCause(output, hibernationFile), cause) << output;
}

// The first scan starts from the event loop. A failed listing empties the list, but a mounted
// disk whose device is still there has not gone.
TEST_F(DiskFixture, ScanFindsSafeNtfsPartitionsInOrderAndADiskGoneWhileMountedIsReportedAndCleanedUpOnce)
{
    makeManager(false);
    EXPECT_TRUE(runner->calls().isEmpty());
    ASSERT_TRUE(testsupport::processEventsUntil([&] { return published > 0 && !manager->isScanning(); }));
    EXPECT_EQ(runner->calls(), kRescan);
    EXPECT_EQ(manager->disks(), kFound);

    runner->clearCalls();
    runner->setHandler([](const Call &c) { return c.line == kList ? std::optional(fail("diskutil: unable to list")) : std::nullopt; });
    testsupport::await(manager->scanDisks());
    EXPECT_TRUE(manager->disks().isEmpty());
    EXPECT_EQ(runner->lines(), QStringList({kList}));
    EXPECT_TRUE(removed.isEmpty());

    // Listed again, then gone with its device while mounted. Without change watchers (as on macOS)
    // the model cannot tell a disk pulled out from one ejected elsewhere and unplugged before the
    // next scan, and says nothing. Where it watches the devices, the disk is reported once, its
    // dead mount and directory taken down once, though a second model (no one listening to it)
    // sees it go too.
    const auto goneWhileMounted = [&] {
        files->missingDevices = {"/dev/disk4s1"};
        files->existing = files->mountPoints = {"/Volumes/Data"};
        runner->clearCalls();
        runner->setHandler([](const Call &c) { return c.line == kList ? std::optional(ok(listing({}))) : std::nullopt; });
    };
    runner->setHandler({});
    testsupport::await(manager->scanDisks());
    goneWhileMounted();
    testsupport::await(manager->scanDisks());
    // (A removal is told once the device has been looked at, off the event loop: a while later.)
    EXPECT_FALSE(testsupport::processEventsUntil([&] { return !removed.isEmpty(); }, 500));
    EXPECT_FALSE(runner->calls().contains(priv(kTakeDown)));

    QTemporaryDir devices;
    Platform watched = Platform::macOS();
    watched.deviceDirectory = devices.path();
    files->missingDevices.clear();
    runner->setHandler({});
    makeManager(true, watched);
    DiskManager quiet(watched, runner, files);
    testsupport::await(quiet.scanDisks());
    goneWhileMounted();
    testsupport::await(manager->scanDisks());
    testsupport::await(manager->scanDisks());
    testsupport::await(quiet.scanDisks());
    ASSERT_TRUE(testsupport::processEventsUntil([&] { return runner->calls().contains(priv(kTakeDown)); }));
    testsupport::await(quiet.scanDisks());
    EXPECT_EQ(removed, QList<NTFSDisk>({kFound.first()}));
    EXPECT_EQ(runner->calls().count(priv(kTakeDown)), 1);
}

// Scans asked for while one runs share one right after it. An unmount that ends while a scan runs,
// which read the listing from before it: the unmount's rescan follows that scan, and the unmount
// is done only once its rescan has published. A model destroyed while its listing runs ends quietly.
TEST_F(DiskFixture, ScansAskedForDuringAScanAndAnOperationsRescanFollowIt)
{
    runner->setAsyncDelay(std::chrono::milliseconds(30));
    makeManager();
    auto first = manager->scanDisks();
    auto second = manager->scanDisks();
    auto third = manager->scanDisks();
    testsupport::await(std::move(first));
    EXPECT_FALSE(second.isReady());
    EXPECT_EQ(published, 1);
    testsupport::await(std::move(third));
    EXPECT_TRUE(second.isReady());
    EXPECT_EQ(published, 2);

    std::atomic<bool> release = false; // detail reads wait on their background thread until then
    runner->setHandler([&](const Call &c) -> std::optional<ShellResult> {
        while (c.line.startsWith(info("")) && !release)
            QThread::msleep(1);
        return std::nullopt;
    });
    auto held = manager->scanDisks();
    ASSERT_TRUE(testsupport::processEventsUntil([&] { return runner->lines().contains(info("disk4s1")); }));
    auto unmounting = manager->unmount(kFound.first());
    ASSERT_TRUE(testsupport::processEventsUntil([&] { return runner->lines().contains(kUnmount); }));
    QCoreApplication::processEvents();
    EXPECT_FALSE(unmounting.isReady());
    release = true;
    EXPECT_EQ(testsupport::await(std::move(unmounting)), std::nullopt);
    EXPECT_EQ(published, 4); // the scan held, then the unmount's rescan
    testsupport::await(std::move(held));

    runner->setHandler({});
    runner->clearCalls();
    auto orphaned = manager->scanDisks();
    manager.reset();
    ASSERT_TRUE(testsupport::processEventsUntil([&] { return !runner->calls().isEmpty(); }));
    QCoreApplication::processEvents();
}

// The window's and the tray's models are independent, but never work on one disk at once: the
// second mount is refused while the first runs, so that its clean-up cannot take down the first's
// volume; once the first has ended, the disk is free again.
TEST_F(DiskFixture, TwoModelsMountingOneDiskAtOnceLeaveOneMountAndOneSuccess)
{
    makeManager();
    DiskManager tray(Platform::macOS(), runner, files);
    runner->setAsyncDelay(std::chrono::milliseconds(30));
    runner->clearCalls();
    auto first = manager->mountReadWrite(unmounted, kNtfs3g);
    auto second = tray.mountReadWrite(unmounted, kNtfs3g);
    const DiskError refused = testsupport::await(std::move(second)).value_or(DiskError{});
    EXPECT_TRUE(refused.cause == DiskError::Cause::InProgress && refused.code == DiskError::MountFailed) << refused.description.toStdString();
    EXPECT_EQ(testsupport::await(std::move(first)), std::nullopt);
    EXPECT_EQ(runner->calls().count(priv(kNtfs3gLine)), 1);
    EXPECT_EQ(testsupport::await(tray.unmount(mounted)), std::nullopt);
}

// Where the profile's privileged reader tells the volume's state, a read-write mount goes ahead
// only on its word "clean": dirty, no answer or a dismissed prompt leave the disk untouched.
TEST_F(DiskFixture, AReadWriteMountWaitsForTheStateReadersWordClean)
{
    Platform platform = Platform::macOS();
    platform.elevation = Platform::Elevation::Pkexec;
    platform.pkexec = "/usr/bin/pkexec";
    platform.volumeStateReader = "/usr/libexec/quorvel-ntfs-mount/volume-state";
    makeManager(true, platform);
    const QString asked = platform.pkexec + " \"" + platform.volumeStateReader + "\" \"/dev/disk4s1\"";
    const std::pair<ShellResult, DiskError::Cause> rows[] = {
        {ScriptedRunner::ok("dirty"), DiskError::Cause::Unclean},
        {fail("Error executing command as another user: Not authorized", 127), DiskError::Cause::ReadOnly},
        {{false, "User canceled.", 126, true}, DiskError::Cause::Cancelled},
        {ScriptedRunner::ok("clean"), DiskError::Cause::Unknown},
    };
    for (const auto &[answer, cause] : rows) {
        runner->setHandler([&](const Call &c) { return c.line == asked ? std::optional(answer) : std::nullopt; });
        const std::optional<DiskError> error = mount(unmounted);
        EXPECT_EQ(error.value_or(DiskError{}).cause, cause) << answer.output.toStdString();
        EXPECT_EQ(runner->calls().contains(priv(kMkdir)), !error);
    }
}
