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

namespace {

const QString kList = "/usr/sbin/diskutil list -plist";
const QString kMount = "/sbin/mount ";
QString info(const QString &node) { return "/usr/sbin/diskutil info -plist " + node; }
ShellResult ok(const QByteArray &bytes) { return ScriptedRunner::ok(QString::fromUtf8(bytes)); }
const QList<NTFSDisk> kFound{{"disk4s1", "Data", 1000204886016, QString("/Volumes/Data"), false, "ntfs"},
                             {"disk4s3", "Backup", 500000000000, std::nullopt, false, "ntfs"},
                             {"disk5s2", "Win", 63813500928, std::nullopt, false, "ntfs"},
                             {"disk6", "Stick", 32017047552, QString("/Volumes/Stick"), true, "ntfs"}};

struct ScanFixture : ::testing::Test {
    std::shared_ptr<ScriptedRunner> runner = std::make_shared<ScriptedRunner>();
    std::shared_ptr<ScriptedFileProbe> files = std::make_shared<ScriptedFileProbe>();
    std::unique_ptr<DiskManager> manager;
    int published = 0; // lists the manager has published
    QList<NTFSDisk> removed;

    // The realistic machine, and partitions whose identifiers would change a command line.
    void SetUp() override
    {
        const QString last = partition("disk4s3", 500000000000, "Windows_NTFS");
        QString unsafe;
        for (const char *id : {"disk4s4;reboot", "../sda", "..", "disk4s5 x"})
            unsafe += partition(id, 1, "Windows_NTFS");
        QByteArray listed = realisticListing();
        listed.replace(last.toUtf8(), (last + unsafe).toUtf8());
        runner->on(kList, ok(listed));
        runner->on(info("disk4s1"), ok(detail({{"VolumeName", str("Data")}, {"MountPoint", str("/Volumes/Data")},
                                               {"Writable", boolean(false)}, {"FilesystemType", str("ntfs")}})));
        runner->on(info("disk4s3"), ok(detail({{"VolumeName", str("Backup")}})));
        runner->on(info("disk5s2"), ok(detail({{"VolumeName", str("Win")}, {"FilesystemType", str("ntfs")}})));
        runner->on(info("disk6"), ok(detail({{"VolumeName", str("Stick")}, {"FilesystemType", str("ntfs")}})));
        runner->on(kMount, ScriptedRunner::ok("/dev/disk3s1s1 on / (apfs, sealed, local, read-only, journaled)\n"
                                              "/dev/disk4s1 on /Volumes/Data (ntfs, local, nodev, nosuid, read-only, noowners)\n"
                                              "fuse-t:/Stick on /Volumes/Stick (nfs, nodev, nosuid, mounted by user)"));
    }
    void makeManager()
    {
        published = 0;
        manager = std::make_unique<DiskManager>(Platform::macOS(), runner, files);
        QObject::connect(manager.get(), &DiskManager::disksChanged, [this] { ++published; });
        QObject::connect(manager.get(), &DiskManager::mountedDiskRemoved, [this](const NTFSDisk &d) { removed << d; });
    }
    // Detail reads wait on their background thread until `release`.
    void holdDetailReads(std::atomic<bool> &release)
    {
        runner->setHandler([&](const Call &c) -> std::optional<ShellResult> {
            while (c.line.startsWith(info("")) && !release)
                QThread::msleep(1);
            return std::nullopt;
        });
    }
};

} // namespace

TEST_F(ScanFixture, FirstScanStartsFromTheEventLoopAndFindsSafeNtfsPartitionsInOrder)
{
    makeManager();
    EXPECT_TRUE(manager->disks().isEmpty());
    EXPECT_FALSE(manager->isScanning());
    EXPECT_TRUE(runner->calls().isEmpty());

    ASSERT_TRUE(testsupport::waitForFirstScan(*manager));
    EXPECT_EQ(runner->lines(), QStringList({kList, info("disk4s1"), info("disk4s3"), info("disk5s2"), info("disk6"), kMount}));
    EXPECT_EQ(manager->disks(), kFound);
}

TEST_F(ScanFixture, PropertyChangesComeInOrderAndScansAskedForDuringAScanShareOneRightAfterIt)
{
    runner->setAsyncDelay(std::chrono::milliseconds(30));
    makeManager();
    ASSERT_TRUE(testsupport::waitForFirstScan(*manager));
    runner->clearCalls();
    QStringList changes;
    QObject::connect(manager.get(), &DiskManager::isScanningChanged,
                     [&] { changes << QString("isScanning=%1").arg(manager->isScanning()); });
    QObject::connect(manager.get(), &DiskManager::lastErrorChanged, [&] { changes << "lastError"; });
    QObject::connect(manager.get(), &DiskManager::disksChanged, [&] { changes << QString("disks=%1").arg(manager->disks().size()); });

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
    makeManager();
    ASSERT_TRUE(testsupport::waitForFirstScan(*manager));
    std::atomic<bool> release = false;
    holdDetailReads(release);
    runner->clearCalls();
    auto held = manager->scanDisks();
    ASSERT_TRUE(testsupport::processEventsUntil([&] { return runner->lines().contains(info("disk4s1")); }));

    const int before = published;
    auto unmounting = manager->unmount(kFound.first());
    ASSERT_TRUE(testsupport::processEventsUntil([&] { return runner->lines().contains("/usr/sbin/diskutil unmount /dev/disk4s1"); }));
    QCoreApplication::processEvents();
    EXPECT_FALSE(unmounting.isReady());
    release = true;
    EXPECT_EQ(testsupport::await(std::move(unmounting)), std::nullopt);
    EXPECT_EQ(published, before + 2);
    EXPECT_EQ(runner->lines().count(kList), 2);
    testsupport::await(std::move(held));
}

TEST_F(ScanFixture, FailedListingEmptiesTheListAndADiskGoneWhileMountedIsReportedAndCleanedUpOnce)
{
    makeManager();
    ASSERT_TRUE(testsupport::waitForFirstScan(*manager));
    runner->clearCalls();
    runner->setHandler([](const Call &c) -> std::optional<ShellResult> {
        return c.line == kList ? std::optional(ScriptedRunner::fail("diskutil: unable to list")) : std::nullopt;
    });
    testsupport::await(manager->scanDisks());
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
        return c.line == kList ? std::optional(ok(listing({}))) : std::nullopt;
    });
    testsupport::await(manager->scanDisks());
    testsupport::await(manager->scanDisks());
    testsupport::await(quiet.scanDisks());
    EXPECT_EQ(removed, QList<NTFSDisk>({kFound.first()}));
    EXPECT_EQ(runner->calls().count({ScriptedRunner::Kind::Privileged, "/sbin/umount \"/Volumes/Data\" && rmdir \"/Volumes/Data\""}), 1);
}

TEST_F(ScanFixture, ManagerDestroyedMidScanEndsQuietly)
{
    // While the listing runs.
    runner->setAsyncDelay(std::chrono::milliseconds(20));
    makeManager();
    ASSERT_TRUE(testsupport::processEventsUntil([&] { return manager->isScanning(); }));
    manager.reset();
    ASSERT_TRUE(testsupport::processEventsUntil([&] { return runner->calls().size() >= 1; }));
    QCoreApplication::processEvents();

    // While the detail reads run in the background.
    runner->setAsyncDelay(std::chrono::milliseconds(0));
    runner->clearCalls();
    std::atomic<bool> release = false;
    holdDetailReads(release);
    makeManager();
    ASSERT_TRUE(testsupport::processEventsUntil([&] { return runner->calls().size() >= 2; }));
    manager.reset();
    release = true;
    ASSERT_TRUE(testsupport::processEventsUntil([&] { return runner->lines().contains(kMount); }));
    QCoreApplication::processEvents();
}
