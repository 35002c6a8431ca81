// Mount and unmount on the macOS profile: exact command lines, their order, the errors, and
// the fixes (free directory, read-only mounts refused, rescans after partial failures).
#include "disks/DiskManager.h"
#include "disks/FailureAdvice.h"
#include "disks/MountPaths.h"
#include "support/PlistFixtures.h"
#include "support/ScriptedFileProbe.h"
#include "support/ScriptedRunner.h"
#include "support/TestSupport.h"

#include <QTimer>

#include <gtest/gtest.h>

#include <unistd.h>

using namespace fixtures;
using Call = ScriptedRunner::Call;
using Kind = ScriptedRunner::Kind;

namespace {

const QString kNtfs3g = "/opt/homebrew/bin/ntfs-3g";
const QString kList = "/usr/sbin/diskutil list -plist";
const QString kUnmount = "/usr/sbin/diskutil unmount /dev/disk4s1";
// Within a prompt's time limit: the Linux stand-in may ask for the administrator password.
const ScriptedRunner::Call kUnmountCall{ScriptedRunner::Kind::Run, kUnmount, CommandRunner::TimeLimit::Prompt};
const QString kMkdir = "mkdir -p \"/Volumes/Data\"";
const QString kNtfs3gLine =
    "\"/opt/homebrew/bin/ntfs-3g\" /dev/disk4s1 \"/Volumes/Data\" -o local,allow_other,auto_xattr,backend=fskit";
const QString kRmdir = "rmdir \"/Volumes/Data\"";
const QString kOpen = "/usr/bin/open \"/Volumes/Data\"";
const QString kLsof = "/usr/sbin/lsof -F pcu +f -- \"/Volumes/Data\"";

struct MountFixture : ::testing::Test {
    std::shared_ptr<ScriptedRunner> runner = std::make_shared<ScriptedRunner>();
    std::shared_ptr<ScriptedFileProbe> files = std::make_shared<ScriptedFileProbe>();
    std::unique_ptr<DiskManager> manager;

    const NTFSDisk mounted{"disk4s1", "Data", 1000, QString("/Volumes/Data"), false, "ntfs"};
    const NTFSDisk unmounted{"disk4s1", "Data", 1000, std::nullopt, false, "ntfs"};

    void SetUp() override
    {
        runner->on(kList, ScriptedRunner::ok(QString::fromUtf8(listing({}))));
        manager = std::make_unique<DiskManager>(Platform::macOS(), runner, files);
        ASSERT_TRUE(testsupport::processEventsUntil(
            [&] { return runner->calls().size() == 2 && !manager->isScanning(); }));
        runner->clearCalls();
    }
    std::optional<DiskError> mount(const NTFSDisk &disk)
    {
        return testsupport::await(manager->mountReadWrite(disk, kNtfs3g));
    }
    // The calls of one rescan (an empty listing still probes the mount table).
    static QList<Call> rescan() { return {{Kind::Run, kList}, {Kind::Run, "/sbin/mount "}}; }
};

} // namespace

TEST_F(MountFixture, SuccessfulMountRunsTheExactLinesAndOpensBeforeTheRescan)
{
    EXPECT_EQ(mount(mounted), std::nullopt);
    EXPECT_EQ(runner->calls(), QList<Call>({kUnmountCall,
                                            {Kind::Privileged, kMkdir},
                                            {Kind::Privileged, kNtfs3gLine},
                                            {Kind::Launch, kOpen}})
                                   + rescan());

    // Not mounted: starts at the directory. Present but empty: still unmounts first.
    runner->clearCalls();
    EXPECT_EQ(mount(unmounted), std::nullopt);
    EXPECT_EQ(runner->calls().first(), (Call{Kind::Privileged, kMkdir}));
    runner->clearCalls();
    NTFSDisk emptyMount = unmounted;
    emptyMount.mountPoint = QString();
    EXPECT_EQ(mount(emptyMount), std::nullopt);
    EXPECT_EQ(runner->calls().first(), kUnmountCall);
}

TEST_F(MountFixture, UnmountOfTheSystemMountFailingStopsEverything)
{
    runner->on(kUnmount, ScriptedRunner::fail("Volume Data on disk4s1 failed to unmount: in use", 1));
    EXPECT_EQ(mount(mounted),
              (DiskError{DiskError::UnmountReadOnlyFailed, "Failed to unmount existing read-only volume: Volume Data on disk4s1 failed to unmount: in use"}));
    EXPECT_EQ(runner->lines(), QStringList({kUnmount}));
}

TEST_F(MountFixture, DirectoryFailureRescansOnlyWhenTheSystemMountIsAlreadyGone)
{
    runner->on(kMkdir, ScriptedRunner::fail("execution error: User canceled. (-128)", 1));
    const DiskError expected{DiskError::CreateDirectoryFailed, "Failed to create mount directory at /Volumes/Data: execution error: User canceled. (-128)"};
    EXPECT_EQ(mount(mounted), expected);
    EXPECT_EQ(runner->calls(), QList<Call>({kUnmountCall, {Kind::Privileged, kMkdir}}) + rescan());

    runner->clearCalls();
    EXPECT_EQ(mount(unmounted), expected);
    EXPECT_EQ(runner->lines(), QStringList({kMkdir}));
}

TEST_F(MountFixture, Ntfs3gFailureRemovesTheDirectoryExactlyOnce)
{
    runner->on(kNtfs3gLine, ScriptedRunner::fail("NTFS signature is missing.", 21));
    runner->on(kRmdir, ScriptedRunner::fail("rmdir: failed", 1)); // its result is ignored
    EXPECT_EQ(mount(mounted), (DiskError{DiskError::MountFailed, "Mount failed: NTFS signature is missing."}));
    EXPECT_EQ(runner->calls(), QList<Call>({kUnmountCall,
                                            {Kind::Privileged, kMkdir},
                                            {Kind::Privileged, kNtfs3gLine},
                                            {Kind::Privileged, kRmdir}})
                                   + rescan());
}

TEST_F(MountFixture, Ntfs3gFailingAfterTheVolumeCameUpTakesTheMountDownToo)
{
    // The privileged shell killed once ntfs-3g had mounted: the run fails, the volume is up.
    runner->on(kNtfs3gLine, ScriptedRunner::fail(QString(), 9));
    runner->onCall = [&](const Call &call) {
        if (call.line == kNtfs3gLine)
            files->mountPoints.insert("/Volumes/Data");
    };
    EXPECT_EQ(mount(unmounted), (DiskError{DiskError::MountFailed, "Mount failed: "}));
    EXPECT_EQ(runner->lines(),
              QStringList({kMkdir, kNtfs3gLine, "/sbin/umount \"/Volumes/Data\" && rmdir \"/Volumes/Data\""}));
}

TEST_F(MountFixture, ReadOnlyResultOfNtfs3gIsUndoneExplainedAndOfferedReadOnly)
{
    runner->on(kNtfs3gLine, ScriptedRunner::ok("Volume is read-only."));
    files->readOnlyMounts.insert("/Volumes/Data");
    // Read while the volume is still up: the hibernation file tells why it came up read-only.
    files->contents["/Volumes/Data/hiberfil.sys"] = "HIBR\0\0\0\0";
    EXPECT_EQ(mount(unmounted), FailureAdvice::offerReadOnly({DiskError::MountFailed, "Mount failed: Volume is read-only."},
                                                             FailureAdvice::ReadOnlyCause::Hibernated));
    EXPECT_EQ(runner->calls(), QList<Call>({{Kind::Privileged, kMkdir},
                                            {Kind::Privileged, kNtfs3gLine},
                                            {Kind::Privileged, "/sbin/umount \"/Volumes/Data\" && rmdir \"/Volumes/Data\""}}));

    // The read-only mount offered instead: the same lines with "ro", kept and shown.
    runner->clearCalls();
    EXPECT_EQ(testsupport::await(manager->mountReadOnly(unmounted, kNtfs3g)), std::nullopt);
    EXPECT_EQ(runner->calls().mid(0, 3),
              QList<Call>({{Kind::Privileged, kMkdir},
                           {Kind::Privileged, "\"/opt/homebrew/bin/ntfs-3g\" /dev/disk4s1 \"/Volumes/Data\" -o "
                                              "ro,local,allow_other,auto_xattr,backend=fskit"},
                           {Kind::Launch, kOpen}}));
}

TEST_F(MountFixture, AnotherVolumesMountPointIsNeverMountedOver)
{
    files->mountPoints = {"/Volumes/Data", "/Volumes/Data 1"};
    EXPECT_EQ(mount(unmounted), std::nullopt);
    EXPECT_EQ(runner->calls().mid(0, 3),
              QList<Call>({{Kind::Privileged, "mkdir -p \"/Volumes/Data 2\""},
                           {Kind::Privileged, "\"/opt/homebrew/bin/ntfs-3g\" /dev/disk4s1 \"/Volumes/Data 2\" -o "
                                              "local,allow_other,auto_xattr,backend=fskit"},
                           {Kind::Launch, "/usr/bin/open \"/Volumes/Data 2\""}}));
}

TEST_F(MountFixture, HostileAndSlashedNamesStayQuotedInsideTheMountRoot)
{
    NTFSDisk hostile = unmounted;
    hostile.volumeName = "A/B \"$(rm -rf ~)\" `x` \\";
    EXPECT_EQ(mount(hostile), std::nullopt);
    EXPECT_EQ(runner->lines().first(), R"(mkdir -p "/Volumes/A-B \"\$(rm -rf ~)\" \`x\` \\")");
}

TEST_F(MountFixture, UnmountAlwaysRescansAndReportsItsFailureAfterwards)
{
    EXPECT_EQ(testsupport::await(manager->unmount(mounted)), std::nullopt);
    EXPECT_EQ(runner->calls(), QList<Call>({kUnmountCall}) + rescan());

    // A failure names the user's programs that hold the volume, as lsof lists them (it fails when
    // it could not read everything), and counts the others.
    runner->clearCalls();
    runner->on(kUnmount, ScriptedRunner::fail("Volume Data on disk4s1 failed to unmount: dissented by PID 42", 1));
    runner->on(kLsof, ScriptedRunner::fail(QString("p42\ncPreview\nu%1\nf3\nn/Volumes/Data/a b.pdf\nf4\n"
                                                   "p7\ncmds\nu%2\nfcwd\np77\nczsh\nu%1\nfcwd")
                                               .arg(::getuid()).arg(::getuid() + 1)));
    const DiskError failed{DiskError::UnmountFailed, "Failed to unmount: Volume Data on disk4s1 failed to unmount: dissented by PID 42"};
    EXPECT_EQ(testsupport::await(manager->unmount(mounted)),
              FailureAdvice::offerRetry(failed, {{{42, "Preview"}, {77, "zsh"}}, 1}));
    EXPECT_EQ(runner->calls(), QList<Call>({kUnmountCall, {Kind::Run, kLsof}}) + rescan());
    EXPECT_EQ(DiskError::domain(), "DiskManager");
}

// Where the unmount keeps the mount directory (the Linux stand-in does), the model removes it:
// only one of ours, only while it is there and no longer mounted on, even after a failed run.
TEST_F(MountFixture, DirectoryKeptByTheUnmountIsRemovedWhenItIsOursAndFree)
{
    struct Case {
        const char *what;
        NTFSDisk disk;
        bool unmounts;
        QSet<QString> existing;
        QSet<QString> mountPoints;
        bool removes;
    };
    NTFSDisk numbered = mounted;
    numbered.mountPoint = "/Volumes/Data 2";
    NTFSDisk elsewhere = mounted;
    elsewhere.mountPoint = "/mnt/data";
    const Case cases[] = {
        {"left behind", mounted, true, {"/Volumes/Data"}, {}, true},
        {"a numbered directory", numbered, true, {"/Volumes/Data 2"}, {}, true},
        {"gone with the unmount", mounted, true, {}, {}, false},
        {"unmount failed", mounted, false, {"/Volumes/Data"}, {"/Volumes/Data"}, false},
        {"unmount failed after unmounting", mounted, false, {"/Volumes/Data"}, {}, true},
        {"another mount beneath", mounted, true, {"/Volumes/Data"}, {"/Volumes/Data"}, false},
        {"outside the mount root", elsewhere, true, {"/mnt/data"}, {}, false},
    };
    bool unmounts = true;
    runner->setHandler([&](const Call &call) -> std::optional<ShellResult> {
        if (call.line == kUnmount)
            return unmounts ? ScriptedRunner::ok() : ScriptedRunner::fail("busy");
        return std::nullopt;
    });

    // The macOS disk utility takes its directory away itself: nothing more is run there.
    files->existing = {"/Volumes/Data"};
    EXPECT_EQ(testsupport::await(manager->unmount(mounted)), std::nullopt);
    EXPECT_EQ(runner->calls(), QList<Call>({kUnmountCall}) + rescan());

    Platform keeping = Platform::macOS();
    keeping.unmountKeepsDirectory = true;
    runner->clearCalls();
    manager = std::make_unique<DiskManager>(keeping, runner, files);
    ASSERT_TRUE(testsupport::processEventsUntil([&] { return runner->calls().size() == 2 && !manager->isScanning(); }));
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        runner->clearCalls();
        unmounts = c.unmounts;
        files->existing = c.existing;
        files->mountPoints = c.mountPoints;
        testsupport::await(manager->unmount(c.disk));
        QList<Call> expected{kUnmountCall};
        if (c.removes)
            expected.append({Kind::Privileged, "rmdir " + MountPaths::doubleQuoted(*c.disk.mountPoint)});
        if (!c.unmounts)
            expected.append({Kind::Run, kLsof});
        EXPECT_EQ(runner->calls(), expected + rescan());
    }
}

TEST_F(MountFixture, TheEventLoopRunsWhileCommandsRun)
{
    runner->setAsyncDelay(std::chrono::milliseconds(50));
    bool mountDone = false;
    int loopTurnsDuringMount = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        if (!mountDone)
            ++loopTurnsDuringMount;
    });
    ticker.start(0);
    auto task = manager->mountReadWrite(mounted, kNtfs3g);
    const int turnsBeforeAwait = loopTurnsDuringMount;
    testsupport::await(std::move(task));
    mountDone = true;
    EXPECT_EQ(turnsBeforeAwait, 0);
    EXPECT_GT(loopTurnsDuringMount, 10);
}

// ntfs-3g's own words, and the hibernation file's signature, choose the advice.
TEST(FailureAdvice, ReadOnlyCauseFromNtfs3gsWordsAndTheHibernationFile)
{
    using enum FailureAdvice::ReadOnlyCause;
    const struct {
        const char *output;
        QByteArray hibernationFile;
        FailureAdvice::ReadOnlyCause cause;
    } rows[] = {
        {"Windows is hibernated, refused to mount.", {}, Hibernated},
        {"", "hibr\0\0\0\0", Hibernated},
        {"The disk contains an unclean file system (0, 0).\nMetadata kept in Windows cache, refused to mount.", {}, Unclean},
        {"Falling back to read-only mount because the NTFS partition is in an unsafe state.", "wake", Unclean},
        {"", "wake", Unknown},
        {"Read-only file system", {}, Unknown},
    };
    for (const auto &row : rows)
        EXPECT_EQ(FailureAdvice::readOnlyCause(row.output, row.hibernationFile), row.cause) << row.output;
}
