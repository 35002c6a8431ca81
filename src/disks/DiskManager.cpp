#include "disks/DiskManager.h"

#include "disks/DiskDiscovery.h"
#include "disks/MountPaths.h"
#include "disks/MountTable.h"
#include "shell/ModelEnvironment.h"
#include "shell/Log.h"

#include <QCoro/QCoroFuture>
#include <QCoro/QCoroTimer>
#include <QPointer>
#include <QPromise>
#include <QRunnable>
#include <QThreadPool>
#include <QTimer>

#include <chrono>
#include <utility>

#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#endif

namespace {

// The disk utility's word for an unmount of a device path.
QStringList unmountArguments(const NTFSDisk &disk)
{
    return {QStringLiteral("unmount"), QStringLiteral("/dev/") + disk.deviceNode};
}

QStringList listArguments()
{
    return {QStringLiteral("list"), QStringLiteral("-plist")};
}

QStringList detailArguments(const QString &deviceNode)
{
    return {QStringLiteral("info"), QStringLiteral("-plist"), deviceNode};
}

// The four failures of the disk operations. (Built outside the coroutines: GCC 12 cannot
// keep string literals alive across a suspension point in the same expression.)
DiskError unmountReadOnlyFailed(const ShellResult &result)
{
    return {DiskError::UnmountReadOnlyFailed,
            QStringLiteral("Failed to unmount existing read-only volume: ") + result.output};
}
DiskError createDirectoryFailed(const QString &directory, const ShellResult &result)
{
    return {DiskError::CreateDirectoryFailed,
            QStringLiteral("Failed to create mount directory at ") + directory + QStringLiteral(": ") + result.output};
}
DiskError mountFailed(const ShellResult &ntfs3g)
{
    return {DiskError::MountFailed, QStringLiteral("Mount failed: ") + ntfs3g.output};
}
DiskError unmountFailed(const ShellResult &result)
{
    return {DiskError::UnmountFailed, QStringLiteral("Failed to unmount: ") + result.output};
}

// Enough numbered variants for any real clash; past this ntfs-3g reports the busy directory.
constexpr int kMaxDirectoryVariants = 999;

// ThreadSanitizer cannot see the synchronisation inside Qt (which is not built for it) that hands a
// task to a pool thread, and its end back to the waiting thread; these mark the two edges for it.
void handOver([[maybe_unused]] void *token)
{
#if defined(__SANITIZE_THREAD__)
    __tsan_release(token);
#endif
}
void takeOver([[maybe_unused]] void *token)
{
#if defined(__SANITIZE_THREAD__)
    __tsan_acquire(token);
#endif
}

// What the scan's background task finds: written on the pool thread, read once it has finished.
struct Found {
    QList<NTFSDisk> disks;
};

// The scan's background task: it holds the context weakly and finds nothing once it is gone.
class DiscoveryTask final : public QRunnable {
public:
    DiscoveryTask(std::weak_ptr<DiskManager::Context> context, QByteArray listing, std::shared_ptr<Found> found)
        : m_context(std::move(context))
        , m_listing(std::move(listing))
        , m_found(std::move(found))
    {
        m_done.start();
    }
    QFuture<void> future() { return m_done.future(); }

    void run() override
    {
        takeOver(this);
        if (const std::shared_ptr<DiskManager::Context> context = m_context.lock())
            m_found->disks = DiskManager::discover(*context, m_listing);
        handOver(m_found.get());
        m_done.finish();
    }

private:
    std::weak_ptr<DiskManager::Context> m_context;
    QByteArray m_listing;
    std::shared_ptr<Found> m_found;
    QPromise<void> m_done;
};

QCoro::Task<QList<NTFSDisk>> discoverInBackground(std::weak_ptr<DiskManager::Context> weakContext, QByteArray listing)
{
    const auto found = std::make_shared<Found>();
    auto *task = new DiscoveryTask(std::move(weakContext), std::move(listing), found);
    const QFuture<void> done = task->future();
    handOver(task);
    QThreadPool::globalInstance()->start(task); // the pool deletes the task once it has run
    co_await done;
    takeOver(found.get());
    co_return std::move(found->disks);
}

// A failure after the system mount is gone rescans first, so the list shows what is left.
QCoro::Task<std::optional<DiskError>> failAfterRescan(QPointer<DiskManager> self, bool rescan, DiskError error)
{
    if (rescan && self)
        co_await self->scanDisks();
    co_return error;
}

} // namespace

DiskManager::DiskManager(QObject *parent)
    : DiskManager(ModelEnvironment::host(), parent)
{
}

DiskManager::DiskManager(const ModelEnvironment &environment, QObject *parent)
    : DiskManager(environment.platform, environment.runner, environment.files, parent)
{
}

DiskManager::DiskManager(Platform platform, std::shared_ptr<CommandRunner> runner,
                         std::shared_ptr<FileProbe> files, QObject *parent)
    : QObject(parent)
    , m_context(std::make_shared<Context>(Context{std::move(platform), std::move(runner), std::move(files)}))
{
    // The first scan starts from the event loop, after construction has returned.
    QTimer::singleShot(0, this, [this] { scanDisks(); });
}

DiskManager::~DiskManager() = default;

void DiskManager::setDisks(QList<NTFSDisk> disks)
{
    m_disks = std::move(disks);
    Q_EMIT disksChanged();
}

void DiskManager::setIsScanning(bool scanning)
{
    m_isScanning = scanning;
    Q_EMIT isScanningChanged();
}

void DiskManager::setLastError(std::optional<QString> error)
{
    m_lastError = std::move(error);
    Q_EMIT lastErrorChanged();
}

QCoro::Task<> DiskManager::scanDisks()
{
    // Test and set happen without a suspension in between, so scans never overlap.
    if (m_isScanning)
        co_return;
    setIsScanning(true);
    setLastError(std::nullopt);

    QPointer<DiskManager> self(this);
    const std::shared_ptr<Context> context = m_context;
    const std::weak_ptr<Context> weakContext = m_context;

    // The listing runs here on the main thread, awaited so the event loop keeps going.
    const ShellResult listing = co_await context->runner->runAsync(context->platform.diskutil, listArguments());
    if (!self)
        co_return;

    QList<NTFSDisk> found;
    if (listing.isSuccess) {
        found = co_await discoverInBackground(weakContext, listing.output.toUtf8());
        if (!self)
            co_return;
    }
    setDisks(std::move(found));
    setIsScanning(false);
}

QList<NTFSDisk> DiskManager::discover(const Context &context, const QByteArray &listingOutput)
{
    const DiskDiscovery::Listing listing = DiskDiscovery::parseListing(listingOutput);
    if (!listing.parseError.isEmpty())
        writeLogLine(QStringLiteral("Plist parsing error in scan: ") + listing.parseError);
    // The detail reads may overlap; their records keep the listing's order.
    QList<CommandRunner::Command> reads;
    reads.reserve(listing.candidates.size());
    for (const DiskDiscovery::Candidate &candidate : listing.candidates)
        reads.append({context.platform.diskutil, detailArguments(candidate.deviceNode)});
    const QList<ShellResult> results = context.runner->runEach(reads);
    QList<NTFSDisk> disks;
    for (qsizetype i = 0; i < listing.candidates.size() && i < results.size(); ++i) {
        if (auto disk = diskFromDetail(listing.candidates[i], results[i]))
            disks.append(std::move(*disk));
    }
    return applyMountTable(context, std::move(disks));
}

std::optional<NTFSDisk> DiskManager::readDiskDetail(const Context &context, const QString &deviceNode, qint64 size)
{
    return diskFromDetail(DiskDiscovery::Candidate{deviceNode, size, false},
                          context.runner->run(context.platform.diskutil, detailArguments(deviceNode)));
}

std::optional<NTFSDisk> DiskManager::diskFromDetail(const DiskDiscovery::Candidate &candidate, const ShellResult &result)
{
    if (!result.isSuccess)
        return std::nullopt;
    const DiskDiscovery::Detail detail = DiskDiscovery::parseDetail(candidate, result.output.toUtf8());
    if (const auto *error = std::get_if<DiskDiscovery::ParseError>(&detail)) {
        writeLogLine(QStringLiteral("Detail plist parse error for ") + candidate.deviceNode + QStringLiteral(": ")
                     + error->description);
        return std::nullopt;
    }
    if (const auto *disk = std::get_if<NTFSDisk>(&detail))
        return *disk;
    return std::nullopt;
}

QList<NTFSDisk> DiskManager::applyMountTable(const Context &context, QList<NTFSDisk> disks)
{
    const ShellResult result = context.runner->run(context.platform.mountListing, {});
    if (!result.isSuccess)
        return disks;
    return MountTable::apply(std::move(disks), result.output, context.platform.mountRoot);
}

QString DiskManager::freeMountDirectory(const NTFSDisk &disk) const
{
    const QString &root = m_context->platform.mountRoot;
    for (int variant = 0; variant < kMaxDirectoryVariants; ++variant) {
        const QString candidate = MountPaths::directory(root, disk, variant);
        if (!m_context->files->isMountPoint(candidate))
            return candidate;
    }
    return MountPaths::directory(root, disk, kMaxDirectoryVariants);
}

QCoro::Task<std::optional<DiskError>> DiskManager::mountReadWrite(NTFSDisk disk, QString ntfs3gPath)
{
    QPointer<DiskManager> self(this);
    const std::shared_ptr<Context> context = m_context;
    const Platform &platform = context->platform;
    CommandRunner &runner = *context->runner;

    // 1–2. Remove the system's read-only mount first.
    bool systemMountRemoved = false;
    if (disk.mountPoint) {
        const ShellResult unmounted = co_await runner.runAsync(platform.diskutil, unmountArguments(disk));
        if (!unmounted.isSuccess)
            co_return unmountReadOnlyFailed(unmounted);
        systemMountRemoved = true;
    }

    // 3–4. The mount directory, created with administrator rights.
    const QString directory = freeMountDirectory(disk);
    const ShellResult created = co_await runner.runPrivilegedAsync(MountPaths::mkdirLine(directory));
    if (!created.isSuccess)
        co_return co_await failAfterRescan(self, systemMountRemoved, createDirectoryFailed(directory, created));

    // 5–6. ntfs-3g; on failure the directory goes again.
    const ShellResult mounted = co_await runner.runPrivilegedAsync(
        MountPaths::ntfs3gLine(ntfs3gPath, disk.deviceNode, directory, platform.ntfs3gOptions));
    if (!mounted.isSuccess) {
        // A run can fail after the volume came up (the shell killed once ntfs-3g had mounted):
        // then the mount goes too, so that a failure never leaves a volume behind.
        const QString cleanUp = context->files->isMountPoint(directory)
            ? MountPaths::unmountAndRemoveLine(platform.unmountCommand, directory)
            : MountPaths::rmdirLine(directory);
        co_await runner.runPrivilegedAsync(cleanUp);
        co_return co_await failAfterRescan(self, systemMountRemoved, mountFailed(mounted));
    }

    // 7. Give the FUSE layer a moment to settle.
    co_await QCoro::sleepFor(std::chrono::seconds(1));

    // ntfs-3g exits 0 but mounts read-only when Windows was hibernated or fast-started.
    if (!context->files->isWritableMount(directory)) {
        co_await runner.runPrivilegedAsync(MountPaths::unmountAndRemoveLine(platform.unmountCommand, directory));
        co_return co_await failAfterRescan(self, systemMountRemoved, mountFailed(mounted));
    }

    // 8. Show the volume; the opener is not waited for.
    runner.launch(platform.opener, {MountPaths::doubleQuoted(directory)});

    // 9.
    if (self)
        co_await self->scanDisks();
    co_return std::nullopt;
}

QCoro::Task<std::optional<DiskError>> DiskManager::unmount(NTFSDisk disk)
{
    QPointer<DiskManager> self(this);
    const std::shared_ptr<Context> context = m_context;
    const Platform &platform = context->platform;
    const ShellResult result = co_await context->runner->runAsync(platform.diskutil, unmountArguments(disk));
    // Where the unmount leaves our mount directory behind, it goes once nothing is mounted on
    // it, whatever the run reported (a killed unmount may still have unmounted); rmdir removes
    // only an empty directory, and one outside the mount root is left alone.
    if (platform.unmountKeepsDirectory && disk.mountPoint
        && MountPaths::isMountDirectoryFor(platform.mountRoot, disk, *disk.mountPoint)
        && context->files->exists(*disk.mountPoint) && !context->files->isMountPoint(*disk.mountPoint))
        co_await context->runner->runPrivilegedAsync(MountPaths::rmdirLine(*disk.mountPoint));
    if (self)
        co_await self->scanDisks();
    if (!result.isSuccess)
        co_return unmountFailed(result);
    co_return std::nullopt;
}
