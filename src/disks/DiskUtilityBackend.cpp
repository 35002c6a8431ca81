#include "disks/DiskUtilityBackend.h"

#include "disks/DiskDiscovery.h"
#include "disks/FailureAdvice.h"
#include "disks/NtfsVolume.h"
#include "disks/MountPaths.h"
#include "disks/MountTable.h"
#include "disks/VolumeHolders.h"
#include "shell/Log.h"

#include <QCoro/QCoroFuture>
#include <QCoro/QCoroTimer>
#include <QFile>
#include <QFileSystemWatcher>
#include <QSocketNotifier>
#include <QPromise>
#include <QRunnable>
#include <QThreadPool>

#include <utility>

#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#endif

namespace {

using Context = DiskUtilityBackend::Context;
using Outcome = DiskBackend::Outcome;

// The disk utility's word for an unmount of a device path. It runs within a prompt's time limit:
// the Linux stand-in asks for the administrator password when the mount is not the user's own.
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
// ntfs-3g refused the volume outright: where it said why (a hibernated Windows, an unclean
// volume), a read-write mount gets the explanation and the read-only mount offered.
DiskError adviseOnRefusal(DiskError error, const QString &ntfs3gOutput, bool readOnly)
{
    const FailureAdvice::ReadOnlyCause cause = FailureAdvice::readOnlyCause(ntfs3gOutput, {});
    if (readOnly || cause == FailureAdvice::ReadOnlyCause::Unknown)
        return error;
    return FailureAdvice::offerReadOnly(std::move(error), cause);
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

// The record of a listing candidate from its detail read; a "Microsoft Basic Data" one must say NTFS.
std::optional<NTFSDisk> diskFromDetail(const DiskDiscovery::Candidate &candidate, const ShellResult &result)
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

// `disks` with their mount state corrected from the mount table. Blocking.
QList<NTFSDisk> applyMountTable(const Context &context, QList<NTFSDisk> disks)
{
    const ShellResult result = context.runner->run(context.platform.mountListing, {});
    if (!result.isSuccess)
        return disks;
    return MountTable::apply(std::move(disks), result.output, context.platform.mountRoot,
                             context.platform.fuseMountsAreWritable);
}

// Everything a scan computes after the listing: the detail reads, then the mount table. Blocking;
// runs on the background task.
QList<NTFSDisk> discoverFromListing(const Context &context, const QByteArray &listingOutput)
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

// What the scan's background task finds: written on the pool thread, read once it has finished.
struct Found {
    QList<NTFSDisk> disks;
};

// The scan's background task: it holds the context weakly and finds nothing once it is gone.
class DiscoveryTask final : public QRunnable {
public:
    DiscoveryTask(std::weak_ptr<Context> context, QByteArray listing, std::shared_ptr<Found> found)
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
        if (const std::shared_ptr<Context> context = m_context.lock())
            m_found->disks = discoverFromListing(*context, m_listing);
        handOver(m_found.get());
        m_done.finish();
    }

private:
    std::weak_ptr<Context> m_context;
    QByteArray m_listing;
    std::shared_ptr<Found> m_found;
    QPromise<void> m_done;
};

QCoro::Task<QList<NTFSDisk>> discoverInBackground(std::weak_ptr<Context> weakContext, QByteArray listing)
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

QCoro::Task<QList<NTFSDisk>> discoverWith(std::weak_ptr<Context> weakContext)
{
    ShellResult listing;
    {
        const std::shared_ptr<Context> context = weakContext.lock();
        if (!context)
            co_return {};
        // The listing runs here on the main thread, awaited so the event loop keeps going.
        listing = co_await context->runner->runAsync(context->platform.diskutil, listArguments());
    }
    if (!listing.isSuccess || weakContext.expired())
        co_return {};
    co_return co_await discoverInBackground(std::move(weakContext), listing.output.toUtf8());
}

// The first free mount directory for `disk`: its own, else "NAME 1", "NAME 2", …
QString freeMountDirectory(const Context &context, const NTFSDisk &disk)
{
    const QString &root = context.platform.mountRoot;
    for (int variant = 0; variant < kMaxDirectoryVariants; ++variant) {
        const QString candidate = MountPaths::directory(root, disk, variant);
        if (!context.files->isMountPoint(candidate))
            return candidate;
    }
    return MountPaths::directory(root, disk, kMaxDirectoryVariants);
}

QCoro::Task<Outcome> mountWith(std::shared_ptr<Context> context, NTFSDisk disk, QString ntfs3gPath, bool readOnly)
{
    const Platform &platform = context->platform;
    CommandRunner &runner = *context->runner;

    // A volume Windows marked dirty is not written to until Windows has checked it. (Raw devices
    // are readable only to administrators on some systems; there ntfs-3g is left to judge.)
    if (!readOnly && NtfsVolume::isMarkedDirty(*context->files, QStringLiteral("/dev/") + disk.deviceNode) == true)
        co_return Outcome{FailureAdvice::markedDirty(), false};

    // The system's read-only mount goes first. Once it has gone, every failure still rescans, so
    // that the list shows what is left.
    bool systemMountRemoved = false;
    if (disk.mountPoint) {
        const ShellResult unmounted =
            co_await runner.runAsync(platform.diskutil, unmountArguments(disk), CommandRunner::TimeLimit::Prompt);
        if (!unmounted.isSuccess)
            co_return Outcome{unmountReadOnlyFailed(unmounted), false};
        systemMountRemoved = true;
    }

    // The mount directory, created with administrator rights.
    const QString directory = freeMountDirectory(*context, disk);
    const ShellResult created = co_await runner.runPrivilegedAsync(MountPaths::mkdirLine(directory));
    if (!created.isSuccess)
        co_return Outcome{createDirectoryFailed(directory, created), systemMountRemoved};

    // ntfs-3g; on failure the directory goes again.
    const QString options = readOnly ? QStringLiteral("ro,") + platform.ntfs3gOptions : platform.ntfs3gOptions;
    const ShellResult mounted = co_await runner.runPrivilegedAsync(
        MountPaths::ntfs3gLine(ntfs3gPath, disk.deviceNode, directory, options));
    if (!mounted.isSuccess) {
        // A run can fail after the volume came up (the shell killed once ntfs-3g had mounted):
        // then the mount goes too, so that a failure never leaves a volume behind.
        const QString cleanUp = context->files->isMountPoint(directory)
            ? MountPaths::unmountAndRemoveLine(platform.unmountCommand, directory)
            : MountPaths::rmdirLine(directory);
        co_await runner.runPrivilegedAsync(cleanUp);
        co_return Outcome{adviseOnRefusal(mountFailed(mounted), mounted.output, readOnly), systemMountRemoved};
    }

    // Give the FUSE layer a moment to settle.
    if (platform.mountSettleTime.count() > 0)
        co_await QCoro::sleepFor(platform.mountSettleTime);

    // ntfs-3g exits 0 but mounts read-only when Windows was hibernated or fast-started. Its
    // hibernation file, read while the volume is still up, tells which it was.
    if (!readOnly && !context->files->isWritableMount(directory)) {
        const QByteArray hibernationFile = context->files->read(directory + QStringLiteral("/hiberfil.sys"), 0, 8);
        co_await runner.runPrivilegedAsync(MountPaths::unmountAndRemoveLine(platform.unmountCommand, directory));
        co_return Outcome{FailureAdvice::offerReadOnly(mountFailed(mounted),
                                                       FailureAdvice::readOnlyCause(mounted.output, hibernationFile)),
                          systemMountRemoved};
    }

    // Show the volume; the opener is not waited for.
    runner.launch(platform.opener, {MountPaths::doubleQuoted(directory)});
    co_return Outcome{};
}

QCoro::Task<Outcome> unmountWith(std::shared_ptr<Context> context, NTFSDisk disk)
{
    const Platform &platform = context->platform;
    const ShellResult result =
        co_await context->runner->runAsync(platform.diskutil, unmountArguments(disk), CommandRunner::TimeLimit::Prompt);
    // Where the unmount leaves our mount directory behind, it goes once nothing is mounted on
    // it, whatever the run reported (a killed unmount may still have unmounted); rmdir removes
    // only an empty directory, and one outside the mount root is left alone.
    if (platform.unmountKeepsDirectory && disk.mountPoint
        && MountPaths::isMountDirectoryFor(platform.mountRoot, disk, *disk.mountPoint)
        && context->files->exists(*disk.mountPoint) && !context->files->isMountPoint(*disk.mountPoint))
        co_await context->runner->runPrivilegedAsync(MountPaths::rmdirLine(*disk.mountPoint));
    // The unmount always rescans, whatever its result. A busy volume stays mounted: the error names
    // the programs that hold it, so that the user can close them and try again.
    if (result.isSuccess)
        co_return Outcome{std::nullopt, true};
    FailureAdvice::Holders holders;
    if (disk.mountPoint)
        holders = co_await VolumeHolders::of(platform, *context->runner, *disk.mountPoint);
    co_return Outcome{FailureAdvice::offerRetry(unmountFailed(result), holders), true};
}

// A mount of ours whose disk went: the dead mount goes (the system may keep it), and then its
// directory. Mounts elsewhere are the system's to clean up.
QCoro::Task<> cleanUpWith(std::shared_ptr<Context> context, NTFSDisk disk)
{
    const Platform &platform = context->platform;
    if (!disk.mountPoint || !MountPaths::isMountDirectoryFor(platform.mountRoot, disk, *disk.mountPoint)
        || !context->files->exists(*disk.mountPoint))
        co_return;
    const QString &directory = *disk.mountPoint;
    // (A named line: GCC 12 frees a temporary argument before the awaited call has used it.)
    const QString line = context->files->isMountPoint(directory)
        ? MountPaths::unmountAndRemoveLine(platform.unmountCommand, directory)
        : MountPaths::rmdirLine(directory);
    co_await context->runner->runPrivilegedAsync(line);
}

} // namespace

DiskUtilityBackend::DiskUtilityBackend(Platform platform, std::shared_ptr<CommandRunner> runner,
                                       std::shared_ptr<FileProbe> files, QObject *parent)
    : DiskBackend(parent)
    , m_context(std::make_shared<Context>(Context{std::move(platform), std::move(runner), std::move(files)}))
{
    const Platform &profile = m_context->platform;
    if (!profile.deviceDirectory.isEmpty()) {
        auto *devices = new QFileSystemWatcher({profile.deviceDirectory}, this);
        connect(devices, &QFileSystemWatcher::directoryChanged, this, &DiskBackend::changed);
    }
    // The mount table reports a change as an exceptional condition on its open file.
    auto *mountTable = new QFile(profile.mountTableFile, this);
    if (!profile.mountTableFile.isEmpty() && mountTable->open(QIODevice::ReadOnly)) {
        mountTable->readAll();
        auto *notifier = new QSocketNotifier(mountTable->handle(), QSocketNotifier::Exception, mountTable);
        connect(notifier, &QSocketNotifier::activated, this, [this, mountTable] {
            mountTable->seek(0); // read again, or the next change is not reported
            mountTable->readAll();
            Q_EMIT changed();
        });
    }
}

DiskUtilityBackend::~DiskUtilityBackend() = default;

QCoro::Task<QList<NTFSDisk>> DiskUtilityBackend::discover()
{
    return discoverWith(m_context);
}

QCoro::Task<DiskBackend::Outcome> DiskUtilityBackend::mountReadWrite(NTFSDisk disk, QString ntfs3gPath)
{
    return mountWith(m_context, std::move(disk), std::move(ntfs3gPath), false);
}

QCoro::Task<DiskBackend::Outcome> DiskUtilityBackend::mountReadOnly(NTFSDisk disk, QString ntfs3gPath)
{
    return mountWith(m_context, std::move(disk), std::move(ntfs3gPath), true);
}

QCoro::Task<bool> DiskUtilityBackend::isDetached(NTFSDisk disk)
{
    co_return !m_context->files->isDevice(QStringLiteral("/dev/") + disk.deviceNode);
}

QCoro::Task<> DiskUtilityBackend::cleanUpAfterRemoval(NTFSDisk disk)
{
    return cleanUpWith(m_context, std::move(disk));
}

QCoro::Task<DiskBackend::Outcome> DiskUtilityBackend::unmount(NTFSDisk disk)
{
    return unmountWith(m_context, std::move(disk));
}
