#include "disks/udisks2/UDisks2Objects.h"

#include <QDBusArgument>
#include <QDBusMetaType>
#include <QFile>
#include <QMap>
#include <QVariantMap>

#include <limits>

namespace UDisks2 {
namespace {

// udisks2 writes paths as NUL-terminated byte strings (file names need not be UTF-8).
QString pathFromBytes(QByteArray bytes)
{
    while (bytes.endsWith('\0'))
        bytes.chop(1);
    return QFile::decodeName(bytes);
}

QStringList pathsFromVariant(const QVariant &value)
{
    QStringList paths;
    QByteArrayList list;
    if (value.canConvert<QDBusArgument>())
        list = qdbus_cast<QByteArrayList>(value);
    else
        list = value.value<QByteArrayList>();
    for (const QByteArray &bytes : list)
        paths.append(pathFromBytes(bytes));
    return paths;
}

BlockObject blockObject(const QDBusObjectPath &path, const QVariantMap &block, const QVariantMap *filesystem)
{
    BlockObject object;
    object.path = path;
    object.device = pathFromBytes(block.value(QStringLiteral("Device")).toByteArray());
    object.idType = block.value(QStringLiteral("IdType")).toString();
    object.idLabel = block.value(QStringLiteral("IdLabel")).toString();
    const qulonglong size = block.value(QStringLiteral("Size")).toULongLong();
    object.size = size > qulonglong(std::numeric_limits<qint64>::max()) ? 0 : qint64(size);
    object.hintIgnore = block.value(QStringLiteral("HintIgnore")).toBool();
    if (filesystem) {
        object.hasFilesystem = true;
        object.mountPoints = pathsFromVariant(filesystem->value(QStringLiteral("MountPoints")));
    }
    return object;
}

} // namespace

QList<BlockObject> blockObjects(const QDBusMessage &reply)
{
    QList<BlockObject> objects;
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return objects;
    const QVariant first = reply.arguments().constFirst();
    if (!first.canConvert<QDBusArgument>())
        return objects;
    const QDBusArgument tree = first.value<QDBusArgument>();
    if (tree.currentSignature() != QLatin1String("a{oa{sa{sv}}}"))
        return objects;
    tree.beginMap();
    while (!tree.atEnd()) {
        QDBusObjectPath path;
        QMap<QString, QVariantMap> interfaces;
        tree.beginMapEntry();
        tree >> path >> interfaces;
        tree.endMapEntry();
        const auto block = interfaces.constFind(kBlock);
        if (block == interfaces.cend())
            continue;
        const auto filesystem = interfaces.constFind(kFilesystem);
        objects.append(blockObject(path, *block, filesystem == interfaces.cend() ? nullptr : &*filesystem));
    }
    tree.endMap();
    return objects;
}

bool concernsDisks(const QStringList &interfaces)
{
    for (const QString &name : interfaces)
        if (name == kBlock || name == kPartition || name == kFilesystem || name == kDrive)
            return true;
    return false;
}

} // namespace UDisks2
