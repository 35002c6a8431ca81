#include "support/Leftovers.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <cerrno>

#include <signal.h>
#include <unistd.h>

namespace testsupport {

namespace {

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

bool processGone(qint64 pid)
{
    return pid <= 0 || (::kill(pid_t(pid), 0) != 0 && errno == ESRCH);
}

} // namespace testsupport
