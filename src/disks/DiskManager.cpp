#include "disks/DiskManager.h"

#include "disks/DiskOperations.h"
#include "disks/DiskUtilityBackend.h"
#include "disks/MountSequence.h"
#include "disks/udisks2/UDisks2Backend.h"

#include <QCoro/QCoroFuture>
#include <QMetaMethod>
#include <QPointer>

#include <algorithm>
#include <chrono>
#include <utility>

namespace {

// Disk services announce one change as a burst of signals (a partition, its file system, its
// drive); they are answered with one rescan this long after the first.
constexpr std::chrono::milliseconds kChangeCoalescing(100);

// udisks2 where the environment reaches it, else the disk utility's command lines.
std::unique_ptr<DiskBackend> backendFor(const ModelEnvironment &environment)
{
    if (environment.diskServiceBus)
        return std::make_unique<UDisks2Backend>(*environment.diskServiceBus, environment.platform, environment.runner,
                                                environment.files);
    return std::make_unique<DiskUtilityBackend>(environment.platform, environment.runner, environment.files);
}

} // namespace

DiskManager::DiskManager(QObject *parent)
    : DiskManager(ModelEnvironment::host(), parent)
{
}

DiskManager::DiskManager(const ModelEnvironment &environment, QObject *parent)
    : DiskManager(backendFor(environment), parent)
{
}

DiskManager::DiskManager(Platform platform, std::shared_ptr<CommandRunner> runner,
                         std::shared_ptr<FileProbe> files, QObject *parent)
    : DiskManager(std::make_unique<DiskUtilityBackend>(std::move(platform), std::move(runner), std::move(files)),
                  parent)
{
}

DiskManager::DiskManager(std::unique_ptr<DiskBackend> backend, QObject *parent)
    : QObject(parent)
    , m_backend(std::move(backend))
{
    m_changeTimer.setSingleShot(true);
    m_changeTimer.setInterval(kChangeCoalescing);
    connect(&m_changeTimer, &QTimer::timeout, this, [this] { scanDisks(); });
    connect(m_backend.get(), &DiskBackend::changed, this, &DiskManager::rescanSoon);
    // The first scan starts from the event loop, after construction has returned, unless a
    // caller has asked for one by then.
    QTimer::singleShot(0, this, [this] {
        if (!m_scanAsked)
            scanDisks();
    });
}

DiskManager::~DiskManager() = default;

QList<NTFSDisk> DiskManager::newcomers(const QList<NTFSDisk> &found) const
{
    QList<NTFSDisk> arrived;
    for (const NTFSDisk &disk : found)
        if (!containsDevice(m_disks, disk.deviceNode))
            arrived.append(disk);
    return arrived;
}

bool DiskManager::containsDevice(const QList<NTFSDisk> &disks, const QString &deviceNode)
{
    return std::any_of(disks.cbegin(), disks.cend(),
                       [&](const NTFSDisk &disk) { return disk.deviceNode == deviceNode; });
}

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

void DiskManager::rescanSoon()
{
    // An operation of this model rescans once it has ended, which answers the changes it makes.
    if (m_operations > 0)
        return;
    // Not restarted by later signals, so that a steady stream of them still rescans.
    if (!m_changeTimer.isActive())
        m_changeTimer.start();
}

QCoro::Task<> DiskManager::scanDisks()
{
    // The request joins those the next scan answers; with none running, that scan starts now.
    // No suspension between the test and the start, so scans never overlap.
    m_scanAsked = true;
    if (!m_nextScan) {
        m_nextScan = std::make_shared<QPromise<void>>();
        m_nextScan->start();
    }
    const QFuture<void> answered = m_nextScan->future();
    if (!m_isScanning)
        runScans();
    co_await answered;
}

QCoro::Task<> DiskManager::runScans()
{
    QPointer<DiskManager> self(this);
    setIsScanning(true);
    while (m_nextScan) {
        // Later requests wait for the scan after this one. Should the model go meanwhile, the
        // promise goes with this coroutine, which releases its waiters too.
        const std::shared_ptr<QPromise<void>> answering = std::exchange(m_nextScan, nullptr);
        QList<NTFSDisk> found = co_await m_backend->discover();
        if (!self)
            co_return;
        // Disks that came or went since the last list. Only a backend that follows the disks as
        // they change can tell: without it, a disk seen missing may have been ejected elsewhere.
        const QList<NTFSDisk> arrived = m_hasPublished && m_backend->watchesChanges() ? newcomers(found) : QList<NTFSDisk>();
        for (const NTFSDisk &disk : m_disks)
            if (disk.mountPoint && !containsDevice(found, disk.deviceNode) && m_backend->watchesChanges())
                followRemoval(disk);
        setDisks(std::move(found));
        m_hasPublished = true;
        for (const NTFSDisk &disk : arrived)
            Q_EMIT diskArrived(disk);
        answering->finish();
    }
    setIsScanning(false);
}

QCoro::Task<std::optional<DiskError>> DiskManager::mountReadWrite(NTFSDisk disk, QString ntfs3gPath)
{
    return perform(Operation::MountReadWrite, std::move(disk), std::move(ntfs3gPath));
}

QCoro::Task<std::optional<DiskError>> DiskManager::mountReadOnly(NTFSDisk disk, QString ntfs3gPath)
{
    return perform(Operation::MountReadOnly, std::move(disk), std::move(ntfs3gPath));
}

QCoro::Task<std::optional<DiskError>> DiskManager::unmount(NTFSDisk disk)
{
    return perform(Operation::Unmount, std::move(disk), {});
}

QCoro::Task<std::optional<DiskError>> DiskManager::perform(Operation operation, NTFSDisk disk, QString ntfs3gPath)
{
    // One operation on a disk at a time, across the window's and the tray's models; the hold lasts
    // until the rescan after it has published.
    const DiskOperations::Hold hold(disk.deviceNode);
    if (!hold.isHeld())
        co_return alreadyUnderWay(operation, disk);
    QPointer<DiskManager> self(this);
    ++m_operations;
    const std::shared_ptr<DiskBackend> backend = m_backend;
    MountSequence::Outcome outcome;
    if (operation == Operation::Unmount)
        outcome = co_await MountSequence::unmount(backend, std::move(disk));
    else
        outcome = co_await MountSequence::mount(backend, std::move(disk), std::move(ntfs3gPath),
                                                operation == Operation::MountReadOnly);
    if (self && outcome.changed)
        co_await self->scanDisks();
    if (self)
        --self->m_operations;
    co_return outcome.error;
}

DiskError DiskManager::alreadyUnderWay(Operation operation, const NTFSDisk &disk)
{
    DiskError error = operation == Operation::Unmount
        ? DiskError{DiskError::UnmountFailed, QStringLiteral("Failed to unmount: ")}
        : DiskError{DiskError::MountFailed, QStringLiteral("Mount failed: ")};
    error.description += QStringLiteral("another mount or unmount of ") + disk.devicePath()
        + QStringLiteral(" is under way");
    error.explanation = QStringLiteral("このディスクはいま別のマウントか取り外しの途中だよ。終わってから、もう一度試してね。");
    error.cause = DiskError::Cause::InProgress;
    return error;
}

QCoro::Task<> DiskManager::followRemoval(NTFSDisk disk)
{
    // The model that tells of the removal cleans up after it; another model of the same disks
    // (the window's beside the tray's) stays out of it, so nothing is cleaned up, or asked for, twice.
    if (!isSignalConnected(QMetaMethod::fromSignal(&DiskManager::mountedDiskRemoved)))
        co_return;
    QPointer<DiskManager> self(this);
    // The backend is the model's; should the model go meanwhile, the rest is left undone.
    if (!co_await m_backend->isDetached(disk) || !self)
        co_return;
    Q_EMIT mountedDiskRemoved(disk);
    co_await m_backend->cleanUpAfterRemoval(std::move(disk));
}

DiskManager::Operation DiskManager::remedyOf(Operation failed, DiskError::Remedy remedy)
{
    return remedy == DiskError::Remedy::MountReadOnly ? Operation::MountReadOnly : failed;
}

NTFSDisk DiskManager::listed(const NTFSDisk &disk) const
{
    for (const NTFSDisk &current : m_disks)
        if (current.deviceNode == disk.deviceNode)
            return current;
    return disk;
}
