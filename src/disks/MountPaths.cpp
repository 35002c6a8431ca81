#include "disks/MountPaths.h"

namespace MountPaths {

QString directoryName(const NTFSDisk &disk)
{
    QString name = disk.volumeName;
    name.replace(QLatin1Char('/'), QLatin1Char('-'));
    name.replace(QChar(u'\0'), QLatin1Char('-'));
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        return disk.deviceNode;
    return name;
}

QString directory(const QString &mountRoot, const NTFSDisk &disk, int variant)
{
    QString path = mountRoot + directoryName(disk);
    if (variant > 0)
        path += QLatin1Char(' ') + QString::number(variant);
    return path;
}

bool isMountDirectoryFor(const QString &mountRoot, const NTFSDisk &disk, const QString &path)
{
    const QString base = directory(mountRoot, disk);
    if (path == base)
        return true;
    if (!path.startsWith(base + QLatin1Char(' ')))
        return false;
    const QStringView number = QStringView(path).mid(base.size() + 1);
    if (number.isEmpty() || number.front() == QLatin1Char('0'))
        return false;
    for (const QChar c : number)
        if (!c.isDigit() || c.unicode() > '9')
            return false;
    return true;
}

QString doubleQuoted(const QString &text)
{
    QString out;
    out.reserve(text.size() + 2);
    out += QLatin1Char('"');
    for (const QChar c : text) {
        if (c == QLatin1Char('"') || c == QLatin1Char('$') || c == QLatin1Char('`') || c == QLatin1Char('\\'))
            out += QLatin1Char('\\');
        out += c;
    }
    out += QLatin1Char('"');
    return out;
}

QString mkdirLine(const QString &directory)
{
    return QStringLiteral("mkdir -p ") + doubleQuoted(directory);
}

QString ntfs3gLine(const QString &ntfs3gPath, const QString &deviceNode, const QString &directory,
                   const QString &options)
{
    return doubleQuoted(ntfs3gPath) + QLatin1Char(' ') + NTFSDisk::kDeviceDirectory + deviceNode + QLatin1Char(' ')
        + doubleQuoted(directory) + QStringLiteral(" -o ") + options;
}

QString rmdirLine(const QString &directory)
{
    return QStringLiteral("rmdir ") + doubleQuoted(directory);
}

QString unmountAndRemoveLine(const QString &unmountCommand, const QString &directory)
{
    return unmountCommand + QLatin1Char(' ') + doubleQuoted(directory) + QStringLiteral(" && ")
        + rmdirLine(directory);
}

} // namespace MountPaths
