#pragma once

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QList>
#include <QString>
#include <QStringList>

// The part of udisks2's object tree the disk model reads: one record per block device, from the
// reply of ObjectManager.GetManagedObjects, and which changes of that tree concern it.
namespace UDisks2 {

inline const QString kManagerPath = QStringLiteral("/org/freedesktop/UDisks2");
inline const QString kObjectManager = QStringLiteral("org.freedesktop.DBus.ObjectManager");
inline const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");
inline const QString kBlock = QStringLiteral("org.freedesktop.UDisks2.Block");
inline const QString kPartition = QStringLiteral("org.freedesktop.UDisks2.Partition");
inline const QString kFilesystem = QStringLiteral("org.freedesktop.UDisks2.Filesystem");
inline const QString kDrive = QStringLiteral("org.freedesktop.UDisks2.Drive");

struct BlockObject {
    QDBusObjectPath path;
    QString device;      // "/dev/sdb1"
    QString idType;      // "ntfs", "ext4", … or empty
    QString idLabel;     // empty when the volume has none
    qint64 size = 0;     // bytes
    bool hintIgnore = false; // the system asks desktops not to show it
    bool hasFilesystem = false;
    QStringList mountPoints; // where the file system is mounted, first mount first
};

// Every block device of a GetManagedObjects reply; nothing for an error or a reply of another shape.
QList<BlockObject> blockObjects(const QDBusMessage &reply);

// Whether a change of these interfaces can change the disk list: a block device, its partition,
// its file system (and so its mounts) or its drive. Jobs and the like do not.
bool concernsDisks(const QStringList &interfaces);

} // namespace UDisks2
