// Scans on the macOS profile against a scripted disk utility and mount table.
#include "disks/DiskManager.h"
#include "support/PlistFixtures.h"
#include "support/ScriptedFileProbe.h"
#include "support/ScriptedRunner.h"
#include "support/TestSupport.h"

#include <QThread>

#include <gtest/gtest.h>

using namespace fixtures;
using Call = ScriptedRunner::Call;
using Kind = ScriptedRunner::Kind;

namespace {

const QString kList = "/usr/sbin/diskutil list -plist";
const QString kMount = "/sbin/mount ";
QString info(const QString &node) { return "/usr/sbin/diskutil info -plist " + node; }
ShellResult ok(const QByteArray &bytes) { return ScriptedRunner::ok(QString::fromUtf8(bytes)); }

struct ScanFixture : ::testing::Test {
    std::shared_ptr<ScriptedRunner> runner = std::make_shared<ScriptedRunner>();
    std::shared_ptr<ScriptedFileProbe> files = std::make_shared<ScriptedFileProbe>();

    void scriptRealisticMachine()
    {
        runner->on(kList, ok(realisticListing()));
        runner->on(info("disk4s1"), ok(detail({{"VolumeName", str("Data")}, {"MountPoint", str("/Volumes/Data")},
                                               {"Writable", boolean(false)}, {"FilesystemType", str("ntfs")}})));
        runner->on(info("disk4s3"), ok(detail({{"VolumeName", str("Backup")}})));
        runner->on(info("disk5s2"), ok(detail({{"VolumeName", str("Win")}, {"FilesystemType", str("ntfs")}})));
        runner->on(info("disk6"), ok(detail({{"VolumeName", str("Stick")}, {"FilesystemType", str("ntfs")}})));
        runner->on(kMount, ScriptedRunner::ok(
                               "/dev/disk3s1s1 on / (apfs, sealed, local, read-only, journaled)\n"
                               "/dev/disk4s1 on /Volumes/Data (ntfs, local, nodev, nosuid, read-only, noowners)\n"
                               "fuse-t:/Stick on /Volumes/Stick (nfs, nodev, nosuid, mounted by user)"));
    }
    // How many lists the current manager has published, and the mounted disks it saw go.
    int published = 0;
    QList<NTFSDisk> removed;

    std::unique_ptr<DiskManager> makeManager()
    {
        published = 0;
        auto manager = std::make_unique<DiskManager>(Platform::macOS(), runner, files);
        QObject::connect(manager.get(), &DiskManager::disksChanged, [this] { ++published; });
        QObject::connect(manager.get(), &DiskManager::mountedDiskRemoved, [this](const NTFSDisk &d) { removed << d; });
        return manager;
    }
    // Waits for the scan that construction started to publish its list.
    void waitForScan(DiskManager &manager)
    {
        ASSERT_TRUE(testsupport::processEventsUntil([&] { return published > 0 && !manager.isScanning(); }));
    }
};

} // namespace

TEST_F(ScanFixture, FirstScanStartsFromTheEventLoopAndFindsNtfsPartitionsInOrder)
{
    scriptRealisticMachine();
    auto manager = makeManager();
    // Nothing happens before the event loop runs.
    EXPECT_TRUE(manager->disks().isEmpty());
    EXPECT_FALSE(manager->isScanning());
    EXPECT_FALSE(manager->lastError().has_value());
    EXPECT_TRUE(runner->calls().isEmpty());

    ASSERT_TRUE(testsupport::processEventsUntil([&] { return !runner->calls().isEmpty(); }));
    waitForScan(*manager);
    EXPECT_EQ(runner->calls(), (QList<Call>{{Kind::Run, kList}, {Kind::Run, info("disk4s1")},
                                            {Kind::Run, info("disk4s3")}, {Kind::Run, info("disk5s2")},
                                            {Kind::Run, info("disk6")}, {Kind::Run, kMount}}));
    EXPECT_EQ(manager->disks(), (QList<NTFSDisk>{
                                    {"disk4s1", "Data", 1000204886016, QString("/Volumes/Data"), false, "ntfs"},
                                    {"disk4s3", "Backup", 500000000000, std::nullopt, false, "ntfs"},
                                    {"disk5s2", "Win", 63813500928, std::nullopt, false, "ntfs"},
                                    {"disk6", "Stick", 32017047552, QString("/Volumes/Stick"), true, "ntfs"},
                                }));
}

TEST_F(ScanFixture, PropertyChangesComeInOrderAndScansAskedForDuringAScanShareOneRightAfterIt)
{
    scriptRealisticMachine();
    runner->setAsyncDelay(std::chrono::milliseconds(30));
    auto manager = makeManager();
    waitForScan(*manager);
    runner->clearCalls();

    QStringList changes;
    QObject::connect(manager.get(), &DiskManager::isScanningChanged, [&] {
        changes << QString("isScanning=%1").arg(manager->isScanning());
    });
    QObject::connect(manager.get(), &DiskManager::lastErrorChanged, [&] { changes << "lastError"; });
    QObject::connect(manager.get(), &DiskManager::disksChanged, [&] {
        changes << QString("disks=%1").arg(manager->disks().size());
    });

    auto first = manager->scanDisks();
    auto second = manager->scanDisks();
    auto third = manager->scanDisks();
    testsupport::await(std::move(first));
    EXPECT_FALSE(second.isReady());
    testsupport::await(std::move(third));
    EXPECT_EQ(changes, QStringList({"isScanning=1", "lastError", "disks=4", "lastError", "disks=4", "isScanning=0"}));
    EXPECT_EQ(runner->lines().count(kList), 2);
}

// An unmount that ends while a scan runs, which read the listing from before it: the unmount's
// rescan follows that scan, and the unmount is done only once its rescan has published.
TEST_F(ScanFixture, AnOperationEndingDuringAScanWaitsForTheRescanAfterIt)
{
    scriptRealisticMachine();
    auto manager = makeManager();
    waitForScan(*manager);
    std::atomic<bool> release = false;
    runner->setHandler([&](const Call &c) -> std::optional<ShellResult> {
        if (c.line.startsWith("/usr/sbin/diskutil info"))
            while (!release)
                QThread::msleep(1);
        return std::nullopt;
    });
    runner->clearCalls();
    auto held = manager->scanDisks();
    ASSERT_TRUE(testsupport::processEventsUntil([&] { return runner->lines().contains(info("disk4s1")); }));

    const int before = published;
    auto unmounting = manager->unmount(manager->disks().first());
    ASSERT_TRUE(testsupport::processEventsUntil([&] { return runner->lines().contains("/usr/sbin/diskutil unmount /dev/disk4s1"); }));
    QCoreApplication::processEvents();
    EXPECT_FALSE(unmounting.isReady());
    release = true;
    EXPECT_EQ(testsupport::await(std::move(unmounting)), std::nullopt);
    EXPECT_EQ(published, before + 2);
    EXPECT_EQ(runner->lines().count(kList), 2);
    testsupport::await(std::move(held));
}

TEST_F(ScanFixture, FailedListingEmptiesTheListWithoutProbingTheMountTable)
{
    scriptRealisticMachine();
    auto manager = makeManager();
    waitForScan(*manager);
    ASSERT_EQ(manager->disks().size(), 4);

    runner->clearCalls();
    runner->setHandler([](const Call &c) -> std::optional<ShellResult> {
        if (c.line == kList)
            return ScriptedRunner::fail("diskutil: unable to list", 1);
        return std::nullopt;
    });
    testing::internal::CaptureStdout();
    testsupport::await(manager->scanDisks());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_TRUE(manager->disks().isEmpty());
    EXPECT_EQ(runner->lines(), QStringList({kList}));
    EXPECT_TRUE(removed.isEmpty()) << "the mounted disk's device is still there";

    // Listed again, then gone with its device while mounted: reported once, its dead mount and
    // directory taken down once, though a second model (no one listening to it) sees it go too.
    runner->setHandler({});
    testsupport::await(manager->scanDisks());
    DiskManager quiet(Platform::macOS(), runner, files);
    testsupport::await(quiet.scanDisks());
    files->missingDevices = {"/dev/disk4s1"};
    files->existing = files->mountPoints = {"/Volumes/Data"};
    runner->clearCalls();
    runner->setHandler([](const Call &c) -> std::optional<ShellResult> {
        if (c.line == kList)
            return ScriptedRunner::ok(QString::fromUtf8(listing({})));
        return std::nullopt;
    });
    testsupport::await(manager->scanDisks());
    testsupport::await(manager->scanDisks());
    testsupport::await(quiet.scanDisks());
    ASSERT_EQ(removed.size(), 1);
    EXPECT_EQ(removed[0].deviceNode, "disk4s1");
    EXPECT_EQ(runner->calls().count(Call{Kind::Privileged, "/sbin/umount \"/Volumes/Data\" && rmdir \"/Volumes/Data\""}), 1);
}

TEST_F(ScanFixture, ParseErrorsAreLoggedAndTheMountTableStillRuns)
{
    runner->on(kList, ScriptedRunner::ok("this is not a property list"));
    testing::internal::CaptureStdout();
    auto manager = makeManager();
    waitForScan(*manager);
    const std::string log = testing::internal::GetCapturedStdout();
    EXPECT_EQ(log.rfind("Plist parsing error in scan: ", 0), 0u) << log;
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1);
    EXPECT_EQ(runner->lines(), QStringList({kList, kMount}));

    // A broken detail leaves that partition out and names it in the log.
    runner->clearCalls();
    const ShellResult threePartitions = ok(listing({dict({{"DeviceIdentifier", str("disk4")},
                                        {"Partitions", array({partition("disk4s1", 10, "Windows_NTFS"),
                                                              partition("disk4s2", 20, "Windows_NTFS"),
                                                              partition("disk4s3", 30, "Windows_NTFS")})}})}));
    runner->setHandler([=](const Call &c) -> std::optional<ShellResult> {
        if (c.line == kList)
            return threePartitions;
        if (c.line == info("disk4s1"))
            return ScriptedRunner::ok("<plist><dict><key>VolumeName");
        if (c.line == info("disk4s2"))
            return ScriptedRunner::fail("Could not find disk: disk4s2");
        if (c.line == info("disk4s3"))
            return ScriptedRunner::ok(QString::fromUtf8(detail({{"VolumeName", str("Third")}})));
        return std::nullopt;
    });
    testing::internal::CaptureStdout();
    testsupport::await(manager->scanDisks());
    const std::string detailLog = testing::internal::GetCapturedStdout();
    EXPECT_EQ(detailLog.rfind("Detail plist parse error for disk4s1: ", 0), 0u) << detailLog;
    EXPECT_EQ(std::count(detailLog.begin(), detailLog.end(), '\n'), 1);
    ASSERT_EQ(manager->disks().size(), 1);
    EXPECT_EQ(manager->disks().first().volumeName, "Third");
}

TEST_F(ScanFixture, ManagerDestroyedMidScanEndsQuietly)
{
    scriptRealisticMachine();
    // Destroyed while the listing runs.
    runner->setAsyncDelay(std::chrono::milliseconds(20));
    auto manager = makeManager();
    ASSERT_TRUE(testsupport::processEventsUntil([&] { return manager->isScanning(); }));
    manager.reset();
    ASSERT_TRUE(testsupport::processEventsUntil([&] { return runner->calls().size() >= 1; }));
    QCoreApplication::processEvents();

    // Destroyed while the detail reads run in the background.
    runner->setAsyncDelay(std::chrono::milliseconds(0));
    runner->clearCalls();
    std::atomic<bool> release = false;
    runner->setHandler([&](const Call &c) -> std::optional<ShellResult> {
        if (c.line.startsWith("/usr/sbin/diskutil info"))
            while (!release)
                QThread::msleep(1);
        return std::nullopt;
    });
    manager = makeManager();
    ASSERT_TRUE(testsupport::processEventsUntil([&] { return runner->calls().size() >= 2; }));
    manager.reset();
    release = true;
    ASSERT_TRUE(testsupport::processEventsUntil([&] { return runner->lines().contains(kMount); }));
    QCoreApplication::processEvents();
}
