#include "disks/udisks2/UDisks2Backend.h"

#include "disks/FailureAdvice.h"
#include "shell/OffEventLoop.h"
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

// Reading the object tree answers at once unless the service hangs.
constexpr int kQueryTimeoutMs = 10'000;
// A mount or an unmount may wait for the user at the desktop's password prompt.
constexpr int kActionTimeoutMs = 10 * 60 * 1000;

// udisks2's name for an NTFS file system (its IdType, and the type to mount it as). The kernel
// names an ntfs-3g mount by its FUSE type (fuseblk), the kernel's own driver ntfs3.
const QString kNtfsType = QStringLiteral("ntfs");

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
    const QString &prefix = NTFSDisk::kDeviceDirectory;
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
            || !NTFSDisk::isSafeDeviceIdentifier(node))
            continue;
        NTFSDisk disk;
        disk.deviceNode = node;
        disk.volumeName = object.idLabel.isEmpty() ? NTFSDisk::kUntitledName : object.idLabel;
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
    const QString device = NTFSDisk::kDeviceDirectory + node;
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

bool wasNotMounted(const QDBusMessage &reply)
{
    return reply.errorName() == QStringLiteral("org.freedesktop.UDisks2.Error.NotMounted");
}

// Why a call failed, from udisks2's error name.
DiskError::Cause causeOf(const QDBusMessage &reply)
{
    const QString name = reply.errorName();
    if (name == QStringLiteral("org.freedesktop.UDisks2.Error.NotAuthorizedDismissed"))
        return DiskError::Cause::Cancelled;
    if (name.startsWith(QStringLiteral("org.freedesktop.UDisks2.Error.NotAuthorized")))
        return DiskError::Cause::NotAuthorised;
    if (name == QStringLiteral("org.freedesktop.UDisks2.Error.DeviceBusy"))
        return DiskError::Cause::Busy;
    return DiskError::Cause::Unknown;
}

// The step of a call: its reply, where it failed in words. An authentication that was dismissed or
// refused reads as a cancelled one, as the other platforms' prompts say it.
DiskBackend::Step stepOf(const QDBusMessage &reply)
{
    if (!isError(reply))
        return {};
    const DiskError::Cause cause = causeOf(reply);
    QString text = reply.errorMessage().isEmpty() ? reply.errorName() : reply.errorMessage();
    if (cause == DiskError::Cause::Cancelled || cause == DiskError::Cause::NotAuthorised)
        text = QStringLiteral("User canceled. ") + text;
    return {false, text, cause};
}

DiskBackend::Step gone(const NTFSDisk &disk)
{
    return {false, disk.devicePath() + QStringLiteral(" is no longer attached"), DiskError::Cause::Gone};
}

// Takes down udisks2's mount of `block`; one not mounted counts as taken down. udisks2 removes the
// directory it made.
QCoro::Task<DiskBackend::Step> unmountBlock(std::shared_ptr<Context> context, QDBusObjectPath block)
{
    const QDBusMessage reply = co_await callFilesystem(context, block, QStringLiteral("Unmount"), {});
    co_return wasNotMounted(reply) ? DiskBackend::Step{} : stepOf(reply);
}

QCoro::Task<DiskBackend::Step> removeSystemMountWith(std::shared_ptr<Context> context, NTFSDisk disk)
{
    const std::optional<UDisks2::BlockObject> block = co_await findBlock(context, disk.deviceNode);
    if (!block)
        co_return gone(disk);
    if (block->mountPoints.isEmpty())
        co_return DiskBackend::Step{};
    co_return co_await unmountBlock(context, block->path);
}

// The type named explicitly, and options only ntfs-3g knows, so that udisks2 mounts through
// ntfs-3g (mount.ntfs) even where it would prefer the kernel's driver, which refuses them. udisks2
// makes the files the user's and puts them in a directory only the user may enter; the options
// keep the volume itself private as well.
QCoro::Task<DiskBackend::Placed> mountWith(std::shared_ptr<Context> context, NTFSDisk disk, bool readOnly)
{
    const std::optional<UDisks2::BlockObject> block = co_await findBlock(context, disk.deviceNode);
    if (!block)
        co_return DiskBackend::Placed{gone(disk), {}};
    const QString &options = context->platform.diskServiceMountOptions;
    const QVariantMap arguments{{QStringLiteral("fstype"), kNtfsType},
                                {QStringLiteral("options"), readOnly ? QStringLiteral("ro,") + options : options}};
    const QDBusMessage mounted = co_await callFilesystem(context, block->path, QStringLiteral("Mount"), arguments);
    co_return DiskBackend::Placed{stepOf(mounted), isError(mounted) ? QString() : mounted.arguments().value(0).toString()};
}

// What the kernel says of the mount at `directory`: udisks2 reports where a file system is
// mounted, not how.
DiskBackend::MountState mountStateAt(const QString &directory)
{
    const QHash<QString, MountState> mounts = mountStates();
    const auto state = mounts.constFind(directory);
    if (state == mounts.cend())
        return {std::nullopt, false, QStringLiteral("no driver the kernel lists at ") + directory};
    return {state->readOnly, standins::isFuseType(state->fsType.toStdString()), state->fsType};
}

QCoro::Task<> takeDownWith(std::shared_ptr<Context> context, NTFSDisk disk, QString directory)
{
    if (directory.isEmpty())
        co_return;
    if (const std::optional<UDisks2::BlockObject> block = co_await findBlock(context, disk.deviceNode))
        co_await unmountBlock(context, block->path);
}

QCoro::Task<DiskBackend::Step> unmountWith(std::shared_ptr<Context> context, NTFSDisk disk)
{
    const std::optional<UDisks2::BlockObject> block = co_await findBlock(context, disk.deviceNode);
    if (!block)
        co_return gone(disk);
    co_return co_await unmountBlock(context, block->path);
}

// A file manager's safe removal: the drive goes off once nothing of it is mounted or in use.
QCoro::Task<> releaseDriveWith(std::shared_ptr<Context> context, NTFSDisk disk)
{
    const std::optional<UDisks2::BlockObject> block = co_await findBlock(context, disk.deviceNode);
    if (!block)
        co_return;
    const std::optional<QString> drive = context->tree.driveToPowerOff(block->path.path());
    if (!drive)
        co_return;
    QDBusMessage call =
        QDBusMessage::createMethodCall(context->platform.diskService, *drive, UDisks2::kDrive, QStringLiteral("PowerOff"));
    call.setArguments({QVariantMap{}});
    call.setInteractiveAuthorizationAllowed(true);
    const QDBusPendingCall pending = context->bus.asyncCall(call, kActionTimeoutMs);
    co_await pending;
}

QCoro::Task<bool> isDetachedWith(std::shared_ptr<Context> context, NTFSDisk disk)
{
    auto probe = offloop::run(disk.devicePath(), [files = context->files, device = disk.devicePath()] { return files->isDevice(device); },
                              true);
    const bool present = co_await probe;
    if (present)
        co_return false;
    co_return !(co_await findBlock(context, disk.deviceNode));
}

// udisks2 takes down the mounts it made of a disk that went, and their directories; what is left
// is a directory of udisks2's no one mounts on any more (directly under /media/USER/ or /run/media/USER/),
// removed where the user may. Any other directory is left alone.
QCoro::Task<> cleanUpWith(std::shared_ptr<Context> context, NTFSDisk disk)
{
    if (!disk.mountPoint || !UDisks2::isMountDirectoryOfTheService(*disk.mountPoint))
        co_return;
    const QString directory = *disk.mountPoint;
    auto removal = offloop::run(
        directory, [files = context->files, directory] {
            return files->exists(directory) && !files->isMountPoint(directory) && QDir().rmdir(directory);
        },
        false);
    co_await removal;
}

QCoro::Task<QList<NTFSDisk>> discoverWith(std::shared_ptr<Context> context)
{
    const QList<UDisks2::BlockObject> objects = co_await blockObjects(context);
    // The kernel's mount table, read off the event loop as every other look at the mounts is.
    auto read = offloop::run(QStringLiteral("/proc/self/mountinfo"), [] { return mountStates(); }, QHash<QString, MountState>());
    const QHash<QString, MountState> mounts = co_await read;
    co_return ntfsDisks(objects, mounts);
}

} // namespace

UDisks2Backend::UDisks2Backend(QDBusConnection bus, Platform platform, std::shared_ptr<CommandRunner> runner,
                               std::shared_ptr<FileProbe> files, QObject *parent)
    : DiskBackend({platform, runner, files}, parent)
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

bool UDisks2Backend::watchesChanges() const
{
    return true;
}

QCoro::Task<bool> UDisks2Backend::isDetached(NTFSDisk disk)
{
    return isDetachedWith(m_context, std::move(disk));
}

QCoro::Task<> UDisks2Backend::cleanUpAfterRemoval(NTFSDisk disk)
{
    return cleanUpWith(m_context, std::move(disk));
}

QCoro::Task<DiskBackend::Step> UDisks2Backend::removeSystemMount(NTFSDisk disk)
{
    return removeSystemMountWith(m_context, std::move(disk));
}

QCoro::Task<DiskBackend::Placed> UDisks2Backend::makeMountDirectory(NTFSDisk)
{
    // udisks2 makes the directory itself, under /media/USER/ or /run/media/USER/.
    co_return Placed{};
}

QCoro::Task<DiskBackend::Placed> UDisks2Backend::mount(NTFSDisk disk, QString, QString, bool readOnly)
{
    // udisks2 starts ntfs-3g itself, through mount.ntfs.
    return mountWith(m_context, std::move(disk), readOnly);
}

QCoro::Task<DiskBackend::MountState> UDisks2Backend::mountState(QString directory)
{
    return offloop::run(directory, [directory] { return mountStateAt(directory); },
                        MountState{std::nullopt, false, QStringLiteral("a driver that did not answer")});
}

QCoro::Task<> UDisks2Backend::takeDown(NTFSDisk disk, QString directory)
{
    return takeDownWith(m_context, std::move(disk), std::move(directory));
}

QCoro::Task<DiskBackend::Step> UDisks2Backend::unmount(NTFSDisk disk)
{
    return unmountWith(m_context, std::move(disk));
}

QCoro::Task<> UDisks2Backend::releaseDrive(NTFSDisk disk)
{
    return releaseDriveWith(m_context, std::move(disk));
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
