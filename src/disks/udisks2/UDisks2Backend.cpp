#include "disks/udisks2/UDisks2Backend.h"

#include "disks/DiskDiscovery.h"
#include "disks/FailureAdvice.h"
#include "disks/NtfsVolume.h"
#include "disks/MountPaths.h"
#include "disks/VolumeHolders.h"
#include "disks/udisks2/UDisks2Objects.h"
#include "platform/standins/MountInfo.h"
#include "platform/standins/Text.h"

#include <QCoro/QCoroDBusPendingCall>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusServiceWatcher>
#include <QDir>
#include <QFile>
#include <QHash>

#include <algorithm>
#include <utility>

namespace {

using Context = UDisks2Backend::Context;
using Outcome = DiskBackend::Outcome;

// Reading the object tree answers at once unless the service hangs.
constexpr int kQueryTimeoutMs = 10'000;
// A mount or an unmount may wait for the user at the desktop's password prompt.
constexpr int kActionTimeoutMs = 10 * 60 * 1000;

// udisks2's name for an NTFS file system (its IdType, and the type to mount it as), and the
// kernel's for an ntfs-3g mount: FUSE on a block device.
const QString kNtfsType = QStringLiteral("ntfs");
const QString kNtfs3gType = QStringLiteral("fuseblk");

// What the kernel says of a mount: its file-system type and whether it is read-only.
struct MountState {
    QString fsType;
    bool readOnly = false;
};

// The mounts of this process's mount namespace by directory; the newest one on a directory wins,
// as it is the one that is seen there. udisks2 reports where a file system is mounted, not how.
QHash<QString, MountState> mountStates()
{
    QHash<QString, MountState> states;
    if (const auto entries = standins::readMountInfo("/proc/self/mountinfo")) {
        for (const standins::MountEntry &entry : *entries)
            states.insert(QFile::decodeName(QByteArray::fromStdString(entry.mountPoint)),
                          {QString::fromStdString(entry.fsType), entry.isReadOnly()});
    }
    return states;
}

QString deviceNode(const UDisks2::BlockObject &object)
{
    const QString prefix = QStringLiteral("/dev/");
    return object.device.startsWith(prefix) ? object.device.mid(prefix.size()) : QString();
}

// The NTFS file systems among `objects` that the desktop shows, as records, in the natural order of
// their device names (sdb1, sdb2, …, sdb10, sdc1).
QList<NTFSDisk> ntfsDisks(const QList<UDisks2::BlockObject> &objects, const QHash<QString, MountState> &mounts)
{
    QList<NTFSDisk> disks;
    for (const UDisks2::BlockObject &object : objects) {
        const QString node = deviceNode(object);
        if (object.idType != kNtfsType || object.hintIgnore || !object.hasFilesystem
            || !DiskDiscovery::isSafeDeviceIdentifier(node))
            continue;
        NTFSDisk disk;
        disk.deviceNode = node;
        disk.volumeName = object.idLabel.isEmpty() ? DiskDiscovery::kUntitledName : object.idLabel;
        disk.size = object.size;
        disk.filesystem = object.idType;
        if (!object.mountPoints.isEmpty()) {
            disk.mountPoint = object.mountPoints.constFirst();
            const auto state = mounts.constFind(*disk.mountPoint);
            disk.isWritable = state != mounts.cend() && !state->readOnly;
        }
        disks.append(std::move(disk));
    }
    std::sort(disks.begin(), disks.end(), [](const NTFSDisk &a, const NTFSDisk &b) {
        return standins::naturalLess(a.deviceNode.toStdString(), b.deviceNode.toStdString());
    });
    return disks;
}

// udisks2's block devices as it published them last. The whole tree is read first when it is not
// known yet (the first scan, or after the service restarted), or when `fresh`: a mount or unmount
// acts on the state of this moment, whose signals may still be on their way.
QCoro::Task<QList<UDisks2::BlockObject>> blockObjects(std::shared_ptr<Context> context, bool fresh = false)
{
    if (fresh || !context->tree.isComplete()) {
        const QDBusMessage call = QDBusMessage::createMethodCall(
            context->platform.diskService, UDisks2::kManagerPath, UDisks2::kObjectManager,
            QStringLiteral("GetManagedObjects"));
        const QDBusPendingCall pending = context->bus.asyncCall(call, kQueryTimeoutMs);
        // The signals sent before the reply arrive before it, and those after it are newer: the
        // tree read here and then kept by the signals misses nothing.
        context->tree.reset(co_await pending);
    }
    co_return context->tree.blockObjects();
}

// The block device whose node is /dev/`node`, as udisks2 sees it now.
QCoro::Task<std::optional<UDisks2::BlockObject>> findBlock(std::shared_ptr<Context> context, QString node)
{
    const QString device = QStringLiteral("/dev/") + node;
    for (const UDisks2::BlockObject &object : co_await blockObjects(context, true))
        if (object.device == device)
            co_return object;
    co_return std::nullopt;
}

// Calls `method` of the file system at `path`, letting the desktop's agent ask for a password.
QCoro::Task<QDBusMessage> callFilesystem(std::shared_ptr<Context> context, QDBusObjectPath path, QString method,
                                         QVariantMap options)
{
    QDBusMessage call =
        QDBusMessage::createMethodCall(context->platform.diskService, path.path(), UDisks2::kFilesystem, method);
    call.setArguments({options});
    call.setInteractiveAuthorizationAllowed(true);
    const QDBusPendingCall pending = context->bus.asyncCall(call, kActionTimeoutMs);
    co_return co_await pending;
}

bool isError(const QDBusMessage &reply)
{
    return reply.type() != QDBusMessage::ReplyMessage;
}

// The words of a failed call. An authentication that was dismissed or failed reads as a cancelled
// one, as the other platforms' prompts say it.
QString failureText(const QDBusMessage &reply)
{
    const QString text = reply.errorMessage().isEmpty() ? reply.errorName() : reply.errorMessage();
    if (reply.errorName().startsWith(QStringLiteral("org.freedesktop.UDisks2.Error.NotAuthorized")))
        return QStringLiteral("User canceled. ") + text;
    return text;
}

bool wasNotMounted(const QDBusMessage &reply)
{
    return reply.errorName() == QStringLiteral("org.freedesktop.UDisks2.Error.NotMounted");
}

DiskError gone(DiskError::Code code, const QString &prefix, const QString &node)
{
    return {code, prefix + QStringLiteral("/dev/") + node + QStringLiteral(" is no longer attached")};
}

// Why a fresh mount at `directory` is no ntfs-3g mount (or, where a read-write one was asked for,
// came up read-only), or nothing when it is one.
std::optional<QString> unusableMount(const QString &directory, bool readOnly)
{
    const QHash<QString, MountState> mounts = mountStates();
    const auto state = mounts.constFind(directory);
    if (state == mounts.cend())
        return QStringLiteral("the volume is not in the mount table at ") + directory;
    if (state->fsType != kNtfs3gType)
        return QStringLiteral("the volume was mounted with ") + state->fsType + QStringLiteral(", not ntfs-3g");
    if (state->readOnly && !readOnly)
        return QStringLiteral("ntfs-3g could mount the volume only read-only (Windows may be hibernated, or Fast "
                              "Startup left it in use)");
    return std::nullopt;
}

QCoro::Task<Outcome> mountWith(std::shared_ptr<Context> context, NTFSDisk disk, bool readOnly)
{
    const std::optional<UDisks2::BlockObject> block = co_await findBlock(context, disk.deviceNode);
    if (!block)
        co_return Outcome{gone(DiskError::MountFailed, QStringLiteral("Mount failed: "), disk.deviceNode), true};
    // A volume Windows marked dirty is not written to until Windows has checked it, where the
    // raw device can be read (udisks2 does not say).
    if (!readOnly && NtfsVolume::isMarkedDirty(*context->files, block->device) == true)
        co_return Outcome{FailureAdvice::markedDirty(), false};

    // The system's own mount, read-only, goes first.
    bool changed = false;
    if (!block->mountPoints.isEmpty()) {
        const QDBusMessage unmounted = co_await callFilesystem(context, block->path, QStringLiteral("Unmount"), {});
        if (isError(unmounted) && !wasNotMounted(unmounted))
            co_return Outcome{DiskError{DiskError::UnmountReadOnlyFailed,
                                        QStringLiteral("Failed to unmount existing read-only volume: ")
                                            + failureText(unmounted)},
                              false};
        changed = true;
    }

    // The type named explicitly, so that udisks2 takes ntfs-3g (mount.ntfs) even where it would
    // prefer the kernel's driver. udisks2 makes the files the user's and puts them in a directory only
    // the user may enter; the umask keeps the volume itself private as well.
    const QVariantMap options{{QStringLiteral("fstype"), kNtfsType},
                              {QStringLiteral("options"), readOnly ? QStringLiteral("ro,umask=0077")
                                                                   : QStringLiteral("umask=0077")}};
    const QDBusMessage mounted = co_await callFilesystem(context, block->path, QStringLiteral("Mount"), options);
    if (isError(mounted))
        co_return Outcome{DiskError{DiskError::MountFailed, QStringLiteral("Mount failed: ") + failureText(mounted)},
                          changed};
    const QString directory = mounted.arguments().value(0).toString();

    // ntfs-3g mounts read-only, and succeeds, when Windows was hibernated or fast-started; such a
    // mount, or one by another driver, is taken down again and reported, never passed for success.
    // The hibernation file, read while the volume is up, tells which of the two it was.
    if (const std::optional<QString> why = unusableMount(directory, readOnly)) {
        const QByteArray hibernationFile = context->files->read(directory + QStringLiteral("/hiberfil.sys"), 0, 8);
        const bool cameUpReadOnly = !readOnly && mountStates().value(directory).fsType == kNtfs3gType;
        co_await callFilesystem(context, block->path, QStringLiteral("Unmount"), {});
        DiskError error{DiskError::MountFailed, QStringLiteral("Mount failed: ") + *why};
        if (cameUpReadOnly)
            error = FailureAdvice::offerReadOnly(std::move(error), FailureAdvice::readOnlyCause({}, hibernationFile));
        co_return Outcome{std::move(error), true};
    }

    // Show the volume; the opener is not waited for.
    context->runner->launch(context->platform.opener, {MountPaths::doubleQuoted(directory)});
    co_return Outcome{};
}

QCoro::Task<Outcome> unmountWith(std::shared_ptr<Context> context, NTFSDisk disk)
{
    const std::optional<UDisks2::BlockObject> block = co_await findBlock(context, disk.deviceNode);
    if (!block)
        co_return Outcome{gone(DiskError::UnmountFailed, QStringLiteral("Failed to unmount: "), disk.deviceNode), true};
    // udisks2 removes the mount directory it made; one that is not mounted counts as unmounted.
    const QDBusMessage reply = co_await callFilesystem(context, block->path, QStringLiteral("Unmount"), {});
    if (!isError(reply) || wasNotMounted(reply))
        co_return Outcome{};
    // A busy volume stays mounted: the error names the programs that hold it.
    DiskError error{DiskError::UnmountFailed, QStringLiteral("Failed to unmount: ") + failureText(reply)};
    const std::optional<QString> mountPoint =
        block->mountPoints.isEmpty() ? disk.mountPoint : std::optional(block->mountPoints.constFirst());
    FailureAdvice::Holders holders;
    if (mountPoint)
        holders = co_await VolumeHolders::of(context->platform, *context->runner, *mountPoint);
    co_return Outcome{FailureAdvice::offerRetry(std::move(error), holders), true};
}

QCoro::Task<bool> isDetachedWith(std::shared_ptr<Context> context, NTFSDisk disk)
{
    if (context->files->isDevice(QStringLiteral("/dev/") + disk.deviceNode))
        co_return false;
    co_return !(co_await findBlock(context, disk.deviceNode));
}

// udisks2 takes down the mounts it made of a disk that went, and their directories; what is left
// is a directory no one mounts on any more, removed where the user may.
QCoro::Task<> cleanUpWith(std::shared_ptr<Context> context, NTFSDisk disk)
{
    if (disk.mountPoint && context->files->exists(*disk.mountPoint) && !context->files->isMountPoint(*disk.mountPoint))
        QDir().rmdir(*disk.mountPoint);
    co_return;
}

QCoro::Task<QList<NTFSDisk>> discoverWith(std::shared_ptr<Context> context)
{
    const QList<UDisks2::BlockObject> objects = co_await blockObjects(context);
    co_return ntfsDisks(objects, mountStates());
}

} // namespace

UDisks2Backend::UDisks2Backend(QDBusConnection bus, Platform platform, std::shared_ptr<CommandRunner> runner,
                               std::shared_ptr<FileProbe> files, QObject *parent)
    : DiskBackend(parent)
    , m_context(std::make_shared<Context>(
          Context{std::move(bus), std::move(platform), std::move(runner), std::move(files), {}}))
{
    QDBusConnection &connection = m_context->bus;
    const QString &service = m_context->platform.diskService;
    connection.connect(service, UDisks2::kManagerPath, UDisks2::kObjectManager, QStringLiteral("InterfacesAdded"),
                       this, SLOT(onInterfacesAdded(QDBusMessage)));
    connection.connect(service, UDisks2::kManagerPath, UDisks2::kObjectManager, QStringLiteral("InterfacesRemoved"),
                       this, SLOT(onInterfacesRemoved(QDBusMessage)));
    // Every object's properties: mount points, labels, sizes.
    connection.connect(service, QString(), UDisks2::kProperties, QStringLiteral("PropertiesChanged"), this,
                       SLOT(onPropertiesChanged(QDBusMessage)));
    auto *watcher = new QDBusServiceWatcher(service, connection, QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(watcher, &QDBusServiceWatcher::serviceOwnerChanged, this, &UDisks2Backend::onServiceOwnerChanged);
}

UDisks2Backend::~UDisks2Backend() = default;

QCoro::Task<QList<NTFSDisk>> UDisks2Backend::discover()
{
    return discoverWith(m_context);
}

QCoro::Task<DiskBackend::Outcome> UDisks2Backend::mountReadWrite(NTFSDisk disk, QString)
{
    // udisks2 starts ntfs-3g itself, through mount.ntfs.
    return mountWith(m_context, std::move(disk), false);
}

QCoro::Task<DiskBackend::Outcome> UDisks2Backend::mountReadOnly(NTFSDisk disk, QString)
{
    return mountWith(m_context, std::move(disk), true);
}

QCoro::Task<bool> UDisks2Backend::isDetached(NTFSDisk disk)
{
    return isDetachedWith(m_context, std::move(disk));
}

QCoro::Task<> UDisks2Backend::cleanUpAfterRemoval(NTFSDisk disk)
{
    return cleanUpWith(m_context, std::move(disk));
}

QCoro::Task<DiskBackend::Outcome> UDisks2Backend::unmount(NTFSDisk disk)
{
    return unmountWith(m_context, std::move(disk));
}

void UDisks2Backend::onInterfacesAdded(const QDBusMessage &message)
{
    if (m_context->tree.interfacesAdded(message))
        Q_EMIT changed();
}

void UDisks2Backend::onInterfacesRemoved(const QDBusMessage &message)
{
    if (m_context->tree.interfacesRemoved(message))
        Q_EMIT changed();
}

void UDisks2Backend::onPropertiesChanged(const QDBusMessage &message)
{
    if (m_context->tree.propertiesChanged(message))
        Q_EMIT changed();
}

void UDisks2Backend::onServiceOwnerChanged()
{
    // A restarted service has to be read again whole.
    m_context->tree.forget();
    Q_EMIT changed();
}
