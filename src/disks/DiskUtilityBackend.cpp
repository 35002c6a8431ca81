#include "disks/DiskUtilityBackend.h"

#include "disks/DiskDiscovery.h"
#include "disks/FailureAdvice.h"
#include "disks/MountPaths.h"
#include "disks/MountTable.h"
#include "shell/Log.h"
#include "shell/OffEventLoop.h"

#include <QCoro/QCoroFuture>
#include <QFile>
#include <QFileSystemWatcher>
#include <QSocketNotifier>
#include <QPromise>
#include <QRunnable>
#include <QThreadPool>

#include <utility>

namespace {

using Context = DiskUtilityBackend::Context;

// The disk utility's word for an unmount of a device path. It runs within a prompt's time limit:
// the Linux stand-in asks for the administrator password when the mount is not the user's own.
QStringList unmountArguments(const NTFSDisk &disk)
{
    return {QStringLiteral("unmount"), disk.devicePath()};
}

QStringList listArguments()
{
    return {QStringLiteral("list"), QStringLiteral("-plist")};
}

QStringList detailArguments(const QString &deviceNode)
{
    return {QStringLiteral("info"), QStringLiteral("-plist"), deviceNode};
}

// A step's result from a command's: a dismissed password prompt is a cancelled step.
DiskBackend::Step stepOf(const ShellResult &result)
{
    return {result.isSuccess, result.output,
            result.wasDismissed ? DiskError::Cause::Cancelled : DiskError::Cause::Unknown};
}

// Enough numbered variants for any real clash; past this ntfs-3g reports the busy directory.
constexpr int kMaxDirectoryVariants = 999;
// Directories whose look did not come back in time before the search is given up.
constexpr int kMaxUnansweredDirectories = 3;

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
    const ShellResult result = context.runner->run(CommandRunner::shellWord(context.platform.mountListing), {});
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
        offloop::takeOver(this);
        if (const std::shared_ptr<Context> context = m_context.lock())
            m_found->disks = discoverFromListing(*context, m_listing);
        offloop::handOver(m_found.get());
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
    offloop::handOver(task);
    QThreadPool::globalInstance()->start(task); // the pool deletes the task once it has run
    co_await done;
    offloop::takeOver(found.get());
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

// Whether something is mounted on `directory`, asked off the event loop: a hung FUSE mount
// counts as mounted.
QCoro::Task<bool> isMountPoint(std::shared_ptr<FileProbe> files, QString directory)
{
    return offloop::run(directory, [files, directory] { return files->isMountPoint(directory); }, true);
}

// Whether a file or directory is at `path`, asked off the event loop.
QCoro::Task<bool> exists(std::shared_ptr<FileProbe> files, QString path)
{
    return offloop::run(path, [files, path] { return files->exists(path); }, false);
}

QCoro::Task<DiskBackend::Step> removeSystemMountWith(std::shared_ptr<Context> context, NTFSDisk disk)
{
    const ShellResult unmounted = co_await context->runner->runAsync(context->platform.diskutil, unmountArguments(disk),
                                                                     CommandRunner::TimeLimit::Prompt);
    co_return stepOf(unmounted);
}

// The mount directory, created with administrator rights: the disk's own, else "NAME 1",
// "NAME 2", …, the first nothing is mounted on. Each is looked at on its own off the event loop,
// so that a hung mount on one (which counts as taken) only moves the search on to the next; a
// mount root where look after look finds no answer is given up.
QCoro::Task<DiskBackend::Placed> makeDirectoryWith(std::shared_ptr<Context> context, NTFSDisk disk)
{
    const QString &root = context->platform.mountRoot;
    int variant = 0;
    for (int unanswered = 0; variant < kMaxDirectoryVariants; ++variant) {
        const QString candidate = MountPaths::directory(root, disk, variant);
        auto probe = offloop::run(
            candidate, [files = context->files, candidate] { return std::optional(files->isMountPoint(candidate)); },
            std::optional<bool>());
        const std::optional<bool> mounted = co_await probe;
        if (mounted == false)
            break;
        if (!mounted && ++unanswered == kMaxUnansweredDirectories)
            co_return DiskBackend::Placed{{false, QStringLiteral("the mount root could not be examined in time")},
                                          MountPaths::directory(root, disk)};
    }
    const QString directory = MountPaths::directory(root, disk, variant);
    const ShellResult created = co_await context->runner->runPrivilegedAsync(MountPaths::mkdirLine(directory));
    co_return DiskBackend::Placed{stepOf(created), directory};
}

QCoro::Task<DiskBackend::Placed> mountWith(std::shared_ptr<Context> context, NTFSDisk disk, QString directory,
                                           QString ntfs3gPath, bool readOnly)
{
    const Platform &platform = context->platform;
    const QString options = readOnly ? QStringLiteral("ro,") + platform.ntfs3gOptions : platform.ntfs3gOptions;
    const ShellResult mounted = co_await context->runner->runPrivilegedAsync(
        MountPaths::ntfs3gLine(ntfs3gPath, disk.deviceNode, directory, options));
    co_return DiskBackend::Placed{stepOf(mounted), directory};
}

QCoro::Task<DiskBackend::MountState> mountStateWith(std::shared_ptr<Context> context, QString directory)
{
    // ntfs-3g ran itself; the flags only where the system's read-only word is truthful.
    DiskBackend::MountState state;
    if (!context->platform.fuseMountsAreWritable) {
        auto probe = offloop::run(directory, [files = context->files, directory] { return files->isWritableMount(directory); }, false);
        state.readOnly = !co_await probe;
    }
    co_return state;
}

// A run can fail after the volume came up (the shell killed once ntfs-3g had mounted): then the
// mount goes too, so that a failure never leaves a volume behind; the directory goes in any case.
QCoro::Task<> takeDownWith(std::shared_ptr<Context> context, NTFSDisk, QString directory)
{
    const bool mounted = co_await isMountPoint(context->files, directory);
    const QString line = mounted ? MountPaths::unmountAndRemoveLine(context->platform.unmountCommand, directory)
                                 : MountPaths::rmdirLine(directory);
    co_await context->runner->runPrivilegedAsync(line);
}

QCoro::Task<DiskBackend::Step> unmountWith(std::shared_ptr<Context> context, NTFSDisk disk)
{
    const Platform &platform = context->platform;
    const ShellResult result =
        co_await context->runner->runAsync(platform.diskutil, unmountArguments(disk), CommandRunner::TimeLimit::Prompt);
    // Where the unmount leaves our mount directory behind, it goes once nothing is mounted on
    // it, whatever the run reported (a killed unmount may still have unmounted); rmdir removes
    // only an empty directory, and one outside the mount root is left alone.
    if (platform.unmountKeepsDirectory && disk.mountPoint
        && MountPaths::isMountDirectoryFor(platform.mountRoot, disk, *disk.mountPoint)) {
        const QString directory = *disk.mountPoint;
        auto probe = offloop::run(
            directory, [files = context->files, directory] { return files->exists(directory) && !files->isMountPoint(directory); },
            false);
        const bool leftBehind = co_await probe;
        if (leftBehind)
            co_await context->runner->runPrivilegedAsync(MountPaths::rmdirLine(directory));
    }
    co_return stepOf(result);
}

// A mount of ours whose disk went: the dead mount goes (the system may keep it), and then its
// directory. Mounts elsewhere are the system's to clean up.
QCoro::Task<> cleanUpWith(std::shared_ptr<Context> context, NTFSDisk disk)
{
    const Platform &platform = context->platform;
    if (!disk.mountPoint || !MountPaths::isMountDirectoryFor(platform.mountRoot, disk, *disk.mountPoint))
        co_return;
    const QString directory = *disk.mountPoint;
    if (co_await exists(context->files, directory))
        co_await takeDownWith(context, disk, directory);
}

} // namespace

DiskUtilityBackend::DiskUtilityBackend(Platform platform, std::shared_ptr<CommandRunner> runner,
                                       std::shared_ptr<FileProbe> files, QObject *parent)
    : DiskBackend({platform, runner, files}, parent)
    , m_context(std::make_shared<Context>(Context{std::move(platform), std::move(runner), std::move(files)}))
{
    const Platform &profile = m_context->platform;
    if (!profile.deviceDirectory.isEmpty()) {
        auto *devices = new QFileSystemWatcher({profile.deviceDirectory}, this);
        connect(devices, &QFileSystemWatcher::directoryChanged, this, &DiskBackend::changed);
    }
    // The kernel's mount table reports a change as an exceptional condition on its open file, and
    // the poll that sees it takes it: nothing is read here (the scan reads the table off the event
    // loop).
    auto *mountTable = new QFile(profile.mountTableFile, this);
    if (!profile.mountTableFile.isEmpty() && mountTable->open(QIODevice::ReadOnly)) {
        auto *notifier = new QSocketNotifier(mountTable->handle(), QSocketNotifier::Exception, mountTable);
        connect(notifier, &QSocketNotifier::activated, this, &DiskBackend::changed);
    }
}

DiskUtilityBackend::~DiskUtilityBackend() = default;

QCoro::Task<QList<NTFSDisk>> DiskUtilityBackend::discover()
{
    return discoverWith(m_context);
}

bool DiskUtilityBackend::watchesChanges() const
{
    return !m_context->platform.deviceDirectory.isEmpty();
}

QCoro::Task<bool> DiskUtilityBackend::isDetached(NTFSDisk disk)
{
    auto probe = offloop::run(disk.devicePath(), [files = m_context->files, device = disk.devicePath()] { return files->isDevice(device); },
                              true);
    const bool present = co_await probe;
    co_return !present;
}

QCoro::Task<> DiskUtilityBackend::cleanUpAfterRemoval(NTFSDisk disk)
{
    return cleanUpWith(m_context, std::move(disk));
}

QCoro::Task<DiskBackend::Step> DiskUtilityBackend::removeSystemMount(NTFSDisk disk)
{
    return removeSystemMountWith(m_context, std::move(disk));
}

QCoro::Task<DiskBackend::Placed> DiskUtilityBackend::makeMountDirectory(NTFSDisk disk)
{
    return makeDirectoryWith(m_context, std::move(disk));
}

QCoro::Task<DiskBackend::Placed> DiskUtilityBackend::mount(NTFSDisk disk, QString directory, QString ntfs3gPath,
                                                           bool readOnly)
{
    return mountWith(m_context, std::move(disk), std::move(directory), std::move(ntfs3gPath), readOnly);
}

QCoro::Task<DiskBackend::MountState> DiskUtilityBackend::mountState(QString directory)
{
    return mountStateWith(m_context, std::move(directory));
}

QCoro::Task<> DiskUtilityBackend::takeDown(NTFSDisk disk, QString directory)
{
    return takeDownWith(m_context, std::move(disk), std::move(directory));
}

QCoro::Task<DiskBackend::Step> DiskUtilityBackend::unmount(NTFSDisk disk)
{
    return unmountWith(m_context, std::move(disk));
}

