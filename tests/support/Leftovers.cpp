#include "support/Leftovers.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <algorithm>

#include <unistd.h>

namespace testsupport {

namespace {

// mountinfo writes space, tab, newline and backslash as three octal digits after a backslash.
QString decodeMountField(const QByteArray &field)
{
    QByteArray out;
    out.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            bool ok = false;
            const int value = field.mid(i + 1, 3).toInt(&ok, 8);
            if (ok && value < 256) {
                out += char(value);
                i += 3;
                continue;
            }
        }
        out += field[i];
    }
    return QString::fromUtf8(out);
}

struct Mount {
    QString source;
    QString point;
};

QList<Mount> readMounts()
{
    QList<Mount> mounts;
    QFile table(QStringLiteral("/proc/self/mountinfo"));
    if (!table.open(QIODevice::ReadOnly))
        return mounts;
    // ID PARENT MAJ:MIN ROOT POINT OPTIONS [OPTIONAL...] - TYPE SOURCE SUPER-OPTIONS
    for (const QByteArray &line : table.readAll().split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        const qsizetype separator = fields.indexOf("-");
        if (fields.size() < 5 || separator < 0 || separator + 2 >= fields.size())
            continue;
        mounts.append({decodeMountField(fields[separator + 2]), decodeMountField(fields[4])});
    }
    return mounts;
}

bool isAtOrBelow(const QString &path, const QString &prefix)
{
    const QString base = prefix.endsWith(QLatin1Char('/')) ? prefix.chopped(1) : prefix;
    return path == base || path.startsWith(base + QLatin1Char('/'));
}

QByteArray readSmallFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Where a /proc/…/fd link points ("pipe:[12]", "/dev/loop3p1"); empty once it is gone.
QString linkTarget(const QString &link)
{
    char buffer[4096];
    const ssize_t length = ::readlink(QFile::encodeName(link).constData(), buffer, sizeof buffer);
    return length > 0 ? QString::fromUtf8(buffer, length) : QString();
}

QStringList numericEntries(const QString &directory)
{
    QStringList out;
    for (const QString &name : QDir(directory).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System)) {
        bool ok = false;
        name.toInt(&ok);
        if (ok)
            out << name;
    }
    std::sort(out.begin(), out.end(), [](const QString &a, const QString &b) { return a.toInt() < b.toInt(); });
    return out;
}

} // namespace

QStringList mountPointsUnder(const QString &prefix)
{
    QStringList out;
    for (const Mount &mount : readMounts())
        if (isAtOrBelow(mount.point, prefix))
            out << mount.point;
    return out;
}

QStringList mountPointsOf(const QString &device)
{
    QStringList out;
    for (const Mount &mount : readMounts())
        if (mount.source == device)
            out << mount.point;
    return out;
}

QStringList loopDevicesBackedUnder(const QString &prefix)
{
    QStringList out;
    for (const QString &name : QDir(QStringLiteral("/sys/block")).entryList({QStringLiteral("loop*")}, QDir::AllEntries)) {
        // The kernel appends " (deleted)" once the image is gone.
        QString backing = QString::fromUtf8(readSmallFile("/sys/block/" + name + "/loop/backing_file")).trimmed();
        backing.remove(QRegularExpression(QStringLiteral(" \\(deleted\\)$")));
        if (!backing.isEmpty() && isAtOrBelow(backing, prefix))
            out << QStringLiteral("/dev/") + name;
    }
    return out;
}

QStringList openDescriptors()
{
    QStringList out;
    for (const QString &fd : numericEntries(QStringLiteral("/proc/self/fd"))) {
        // The descriptor that read the listing is closed by now and has no target.
        const QString target = linkTarget(QStringLiteral("/proc/self/fd/") + fd);
        if (!target.isEmpty())
            out << fd + QStringLiteral(" -> ") + target;
    }
    return out;
}

QList<int> zombieChildren()
{
    QList<int> out;
    const int self = int(::getpid());
    for (const QString &pid : numericEntries(QStringLiteral("/proc"))) {
        const QByteArray stat = readSmallFile("/proc/" + pid + "/stat");
        // PID (COMM) STATE PPID ...; COMM may hold blanks and parentheses, so read after the last ')'.
        const qsizetype close = stat.lastIndexOf(')');
        if (close < 0)
            continue;
        const QList<QByteArray> rest = stat.mid(close + 2).split(' ');
        if (rest.size() >= 2 && rest[0] == "Z" && rest[1].toInt() == self)
            out << pid.toInt();
    }
    return out;
}

QStringList processesHolding(const QString &path)
{
    QStringList out;
    const QString self = QString::number(::getpid());
    for (const QString &pid : numericEntries(QStringLiteral("/proc"))) {
        if (pid == self)
            continue;
        const QString fdDir = QStringLiteral("/proc/") + pid + QStringLiteral("/fd");
        for (const QString &fd : QDir(fdDir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System)) {
            if (linkTarget(fdDir + QLatin1Char('/') + fd) == path) {
                out << pid + QStringLiteral(" (") + QString::fromUtf8(readSmallFile("/proc/" + pid + "/comm")).trimmed()
                        + QLatin1Char(')');
                break;
            }
        }
    }
    return out;
}

} // namespace testsupport
