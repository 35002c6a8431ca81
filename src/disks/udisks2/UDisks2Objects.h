#pragma once

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <optional>

// The part of udisks2's object tree the disk model reads, kept as the service publishes it: read
// once whole (ObjectManager.GetManagedObjects), then kept up to date from the service's signals, the
// way every client of an object manager does. A scan then reads it without asking the service.
namespace UDisks2 {

inline const QString kManagerPath = QStringLiteral("/org/freedesktop/UDisks2");
inline const QString kObjectManager = QStringLiteral("org.freedesktop.DBus.ObjectManager");
inline const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");
inline const QString kBlock = QStringLiteral("org.freedesktop.UDisks2.Block");
inline const QString kPartition = QStringLiteral("org.freedesktop.UDisks2.Partition");
inline const QString kFilesystem = QStringLiteral("org.freedesktop.UDisks2.Filesystem");
inline const QString kDrive = QStringLiteral("org.freedesktop.UDisks2.Drive");
inline const QString kSwapspace = QStringLiteral("org.freedesktop.UDisks2.Swapspace");
inline const QString kEncrypted = QStringLiteral("org.freedesktop.UDisks2.Encrypted");

// One block device.
struct BlockObject {
    QDBusObjectPath path;
    QString device;      // "/dev/sdb1"
    QString idType;      // "ntfs", "ext4", … or empty
    QString idLabel;     // empty when the volume has none
    qint64 size = 0;     // bytes
    bool hintIgnore = false; // the system asks desktops not to show it
    bool hasFilesystem = false;
    QStringList mountPoints; // where the file system is mounted, first mount first
    QString drive;           // the object path of its drive; "/" or empty for none
    bool isActive = false;   // an active swap space, or an unlocked encrypted device
};

// One drive.
struct DriveObject {
    QString path;
    bool isRemovable = false;
    bool canPowerOff = false;
    QString siblingId; // drives with the same one are parts of one device; empty for none
};

class ObjectTree {
public:
    // Whether the whole tree has been read since the service (re)started.
    bool isComplete() const { return m_complete; }
    // The service went away or came back: what is known no longer holds.
    void forget();

    // The whole tree from a GetManagedObjects reply; false (and nothing known) for an error or a
    // reply of another shape.
    bool reset(const QDBusMessage &reply);

    // The service's signals. Each returns whether the change can change the disk list: it is about
    // a block device, its partition, its file system (and so its mounts) or its drive, not a job.
    bool interfacesAdded(const QDBusMessage &signal);
    bool interfacesRemoved(const QDBusMessage &signal);
    bool propertiesChanged(const QDBusMessage &signal);

    QList<BlockObject> blockObjects() const;
    QList<DriveObject> driveObjects() const;

    // The drive to power off once the block device at `blockPath` has been unmounted, as a file
    // manager's safe removal does: a removable one that can be powered off, none of whose block
    // devices (or those of its sibling drives) is mounted or otherwise active. None otherwise.
    std::optional<QString> driveToPowerOff(const QString &blockPath) const;

private:
    // The properties of the interfaces it reads, by object path and interface.
    QHash<QString, QHash<QString, QVariantMap>> m_objects;
    bool m_complete = false;
};

// Whether `path` is a mount directory udisks2 makes for this user: directly under /media/USER/ or
// /run/media/USER/.
bool isMountDirectoryOfTheService(const QString &path);

} // namespace UDisks2
