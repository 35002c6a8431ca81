#include "disks/udisks2/UDisks2Objects.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <pwd.h>
#include <unistd.h>

#include <QDBusArgument>
#include <QDBusMetaType>
#include <QFile>
#include <QMap>
#include <QSet>

#include <algorithm>

#include <limits>

namespace UDisks2 {
namespace {

bool isKept(const QString &interface)
{
    return interface == kBlock || interface == kFilesystem || interface == kDrive || interface == kSwapspace
        || interface == kEncrypted;
}

bool concernsDisks(const QString &interface)
{
    return isKept(interface) || interface == kPartition || interface == kDrive;
}

// udisks2 writes paths as NUL-terminated byte strings (file names need not be UTF-8).
QString pathFromBytes(QByteArray bytes)
{
    while (bytes.endsWith('\0'))
        bytes.chop(1);
    return QFile::decodeName(bytes);
}

QStringList pathsFromVariant(const QVariant &value)
{
    const QByteArrayList list =
        value.canConvert<QDBusArgument>() ? qdbus_cast<QByteArrayList>(value) : value.value<QByteArrayList>();
    QStringList paths;
    for (const QByteArray &bytes : list)
        paths.append(pathFromBytes(bytes));
    return paths;
}

using Interfaces = QMap<QString, QVariantMap>;

// The a{sa{sv}} of an object: interface → properties.
Interfaces interfacesFrom(const QVariant &value)
{
    return value.canConvert<QDBusArgument>() ? qdbus_cast<Interfaces>(value) : value.value<Interfaces>();
}

QString objectPath(const QVariant &value)
{
    return value.value<QDBusObjectPath>().path();
}

} // namespace

void ObjectTree::forget()
{
    m_objects.clear();
    m_complete = false;
}

bool ObjectTree::reset(const QDBusMessage &reply)
{
    forget();
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()
        || !reply.arguments().constFirst().canConvert<QDBusArgument>())
        return false;
    const QDBusArgument tree = reply.arguments().constFirst().value<QDBusArgument>();
    if (tree.currentSignature() != QLatin1String("a{oa{sa{sv}}}"))
        return false;
    tree.beginMap();
    while (!tree.atEnd()) {
        QDBusObjectPath path;
        Interfaces interfaces;
        tree.beginMapEntry();
        tree >> path >> interfaces;
        tree.endMapEntry();
        for (auto it = interfaces.cbegin(); it != interfaces.cend(); ++it)
            if (isKept(it.key()))
                m_objects[path.path()].insert(it.key(), it.value());
    }
    tree.endMap();
    m_complete = true;
    return true;
}

bool ObjectTree::interfacesAdded(const QDBusMessage &signal)
{
    const QString path = signal.arguments().value(0).value<QDBusObjectPath>().path();
    const Interfaces interfaces = interfacesFrom(signal.arguments().value(1));
    bool concerns = false;
    for (auto it = interfaces.cbegin(); it != interfaces.cend(); ++it) {
        if (isKept(it.key()))
            m_objects[path].insert(it.key(), it.value());
        concerns = concerns || concernsDisks(it.key());
    }
    return concerns;
}

bool ObjectTree::interfacesRemoved(const QDBusMessage &signal)
{
    const QString path = signal.arguments().value(0).value<QDBusObjectPath>().path();
    bool concerns = false;
    for (const QString &interface : signal.arguments().value(1).toStringList()) {
        if (auto object = m_objects.find(path); object != m_objects.end()) {
            object->remove(interface);
            if (object->isEmpty())
                m_objects.erase(object);
        }
        concerns = concerns || concernsDisks(interface);
    }
    return concerns;
}

bool ObjectTree::propertiesChanged(const QDBusMessage &signal)
{
    const QString interface = signal.arguments().value(0).toString();
    if (isKept(interface)) {
        if (auto object = m_objects.find(signal.path()); object != m_objects.end()) {
            if (auto properties = object->find(interface); properties != object->end()) {
                const QVariantMap changed = qdbus_cast<QVariantMap>(signal.arguments().value(1));
                for (auto it = changed.cbegin(); it != changed.cend(); ++it)
                    properties->insert(it.key(), it.value());
                // A property said to have changed without its value is no longer known.
                for (const QString &name : signal.arguments().value(2).toStringList())
                    properties->remove(name);
            }
        }
    }
    return concernsDisks(interface);
}

QList<BlockObject> ObjectTree::blockObjects() const
{
    QList<BlockObject> objects;
    for (auto it = m_objects.cbegin(); it != m_objects.cend(); ++it) {
        const auto block = it->constFind(kBlock);
        if (block == it->cend())
            continue;
        BlockObject object;
        object.path = QDBusObjectPath(it.key());
        object.device = pathFromBytes(block->value(QStringLiteral("Device")).toByteArray());
        object.idType = block->value(QStringLiteral("IdType")).toString();
        object.idLabel = block->value(QStringLiteral("IdLabel")).toString();
        const qulonglong size = block->value(QStringLiteral("Size")).toULongLong();
        object.size = size > qulonglong(std::numeric_limits<qint64>::max()) ? 0 : qint64(size);
        object.hintIgnore = block->value(QStringLiteral("HintIgnore")).toBool();
        if (const auto filesystem = it->constFind(kFilesystem); filesystem != it->cend()) {
            object.hasFilesystem = true;
            object.mountPoints = pathsFromVariant(filesystem->value(QStringLiteral("MountPoints")));
        }
        object.drive = objectPath(block->value(QStringLiteral("Drive")));
        const auto swap = it->constFind(kSwapspace);
        const auto encrypted = it->constFind(kEncrypted);
        const QString cleartext =
            encrypted == it->cend() ? QString() : objectPath(encrypted->value(QStringLiteral("CleartextDevice")));
        object.isActive = (swap != it->cend() && swap->value(QStringLiteral("Active")).toBool())
            || (!cleartext.isEmpty() && cleartext != QLatin1String("/"));
        objects.append(std::move(object));
    }
    return objects;
}

QList<DriveObject> ObjectTree::driveObjects() const
{
    QList<DriveObject> drives;
    for (auto it = m_objects.cbegin(); it != m_objects.cend(); ++it) {
        const auto drive = it->constFind(kDrive);
        if (drive == it->cend())
            continue;
        drives.append({it.key(), drive->value(QStringLiteral("Removable")).toBool(),
                       drive->value(QStringLiteral("CanPowerOff")).toBool(),
                       drive->value(QStringLiteral("SiblingId")).toString()});
    }
    return drives;
}

std::optional<QString> ObjectTree::driveToPowerOff(const QString &blockPath) const
{
    const QList<BlockObject> blocks = blockObjects();
    const QList<DriveObject> drives = driveObjects();
    const auto block = std::find_if(blocks.cbegin(), blocks.cend(),
                                    [&](const BlockObject &b) { return b.path.path() == blockPath; });
    if (block == blocks.cend())
        return std::nullopt;
    const auto drive =
        std::find_if(drives.cbegin(), drives.cend(), [&](const DriveObject &d) { return d.path == block->drive; });
    if (drive == drives.cend() || !drive->isRemovable || !drive->canPowerOff)
        return std::nullopt;
    // The drive and its siblings: a card reader's slots, say, which go off together.
    QSet<QString> together{drive->path};
    for (const DriveObject &other : drives)
        if (!drive->siblingId.isEmpty() && other.siblingId == drive->siblingId)
            together.insert(other.path);
    for (const BlockObject &other : blocks)
        if (together.contains(other.drive) && (!other.mountPoints.isEmpty() || other.isActive))
            return std::nullopt;
    return drive->path;
}

bool isMountDirectoryOfTheService(const QString &path)
{
    const passwd *account = ::getpwuid(::getuid());
    if (!account)
        return false;
    const QString user = QFile::decodeName(account->pw_name);
    const QString parent = QFileInfo(path).path();
    const QString name = QFileInfo(path).fileName();
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..")
        && QDir::cleanPath(path) == path
        && (parent == QStringLiteral("/media/") + user || parent == QStringLiteral("/run/media/") + user);
}

} // namespace UDisks2
