#include "disks/VolumeHolders.h"

#include "shell/OffEventLoop.h"

#include "disks/MountPaths.h"

#include <QFile>
#include <QSet>

#include <algorithm>
#include <climits>
#include <optional>

#include <dirent.h>
#include <unistd.h>

namespace VolumeHolders {
namespace {

using FailureAdvice::Holder;
using FailureAdvice::Holders;

// What the kernel appends to the name of a file that was removed while open.
const QString kDeleted = QStringLiteral(" (deleted)");

// Whether `path` is `mountPoint` (without a trailing "/") or lies beneath it.
bool isOn(const QString &path, const QString &mountPoint)
{
    return !path.isEmpty() && path.startsWith(mountPoint)
        && (path.size() == mountPoint.size() || path[mountPoint.size()] == QLatin1Char('/'));
}

// The name a /proc link points at, as the kernel keeps it: readlink only, so the file itself is
// never looked at. Empty when it cannot be read.
QString linkTarget(const QByteArray &link)
{
    char buffer[PATH_MAX];
    const ssize_t size = ::readlink(link.constData(), buffer, sizeof buffer);
    if (size <= 0)
        return {};
    QString target = QFile::decodeName(QByteArray(buffer, size));
    if (target.endsWith(kDeleted))
        target.chop(kDeleted.size());
    return target;
}

// The path column of a maps line ("address perms offset dev inode path"), or empty.
QString mappedPath(const QByteArray &line)
{
    qsizetype at = 0;
    for (int field = 0; field < 5; ++field) {
        while (at < line.size() && line[at] == ' ')
            ++at;
        while (at < line.size() && line[at] != ' ')
            ++at;
    }
    while (at < line.size() && line[at] == ' ')
        ++at;
    QByteArray path = line.mid(at);
    if (path.endsWith('\n'))
        path.chop(1);
    if (!path.startsWith('/'))
        return {};
    QString name = QFile::decodeName(path);
    if (name.endsWith(kDeleted))
        name.chop(kDeleted.size());
    return name;
}

bool mapsAnythingOn(const QByteArray &processDir, const QString &mountPoint)
{
    QFile maps(QFile::decodeName(processDir + "maps"));
    if (!maps.open(QIODevice::ReadOnly))
        return false;
    while (!maps.atEnd())
        if (isOn(mappedPath(maps.readLine()), mountPoint))
            return true;
    return false;
}

bool hasOpenFileOn(const QByteArray &processDir, const QString &mountPoint)
{
    const QByteArray fdDir = processDir + "fd/";
    DIR *fds = ::opendir(fdDir.constData());
    if (!fds)
        return false;
    bool found = false;
    while (!found) {
        const dirent *entry = ::readdir(fds);
        if (!entry)
            break;
        if (entry->d_name[0] != '.')
            found = isOn(linkTarget(fdDir + entry->d_name), mountPoint);
    }
    ::closedir(fds);
    return found;
}

bool holds(const QByteArray &processDir, const QString &mountPoint)
{
    for (const char *link : {"cwd", "root", "exe"})
        if (isOn(linkTarget(processDir + link), mountPoint))
            return true;
    return hasOpenFileOn(processDir, mountPoint) || mapsAnythingOn(processDir, mountPoint);
}

std::optional<QByteArray> contents(const QByteArray &path)
{
    QFile file(QFile::decodeName(path));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return file.readAll();
}

// The real uid on the "Uid:" line of a process's status: the account that runs it.
std::optional<uint> realUid(const QByteArray &processDir)
{
    const std::optional<QByteArray> status = contents(processDir + "status");
    if (!status)
        return std::nullopt;
    for (const QByteArray &line : status->split('\n')) {
        if (!line.startsWith("Uid:"))
            continue;
        bool ok = false;
        const uint uid = line.mid(4).simplified().split(' ').value(0).toUInt(&ok);
        return ok ? std::optional(uid) : std::nullopt;
    }
    return std::nullopt;
}

bool isPid(const char *name)
{
    if (!*name)
        return false;
    for (; *name; ++name)
        if (*name < '0' || *name > '9')
            return false;
    return true;
}

// One process as the lister reports it.
struct Listed {
    qint64 pid = 0;
    QString command;
    std::optional<uint> uid;
};

void add(Holders &holders, const Listed &process)
{
    if (process.pid <= 0)
        return;
    if (process.uid == ::getuid())
        holders.named.append({process.pid, process.command});
    else
        ++holders.othersCount;
}

} // namespace

Holders fromProc(const QString &mountPointAsGiven, const QString &procRoot)
{
    Holders holders;
    QString mountPoint = mountPointAsGiven;
    while (mountPoint.endsWith(QLatin1Char('/')))
        mountPoint.chop(1); // "/" itself becomes "", which every path starts with
    if (mountPointAsGiven.isEmpty())
        return holders;
    const QByteArray root = QFile::encodeName(procRoot) + '/';
    DIR *processes = ::opendir(root.constData());
    if (!processes)
        return holders;
    while (const dirent *entry = ::readdir(processes)) {
        if (!isPid(entry->d_name))
            continue;
        const QByteArray processDir = root + entry->d_name + '/';
        const std::optional<uint> uid = realUid(processDir);
        if (!uid || !holds(processDir, mountPoint))
            continue;
        Listed process{QByteArray(entry->d_name).toLongLong(), {}, uid};
        if (*uid == ::getuid()) {
            const std::optional<QByteArray> comm = contents(processDir + "comm");
            if (!comm)
                continue; // gone meanwhile
            process.command = QString::fromUtf8(comm->trimmed());
        }
        add(holders, process);
    }
    ::closedir(processes);
    std::sort(holders.named.begin(), holders.named.end(),
              [](const Holder &a, const Holder &b) { return a.pid < b.pid; });
    return holders;
}

QStringList listerArguments(const QString &mountPoint)
{
    return {QStringLiteral("-F"), QStringLiteral("pcu"), QStringLiteral("+f"), QStringLiteral("--"),
            MountPaths::doubleQuoted(mountPoint)};
}

Holders fromListerFields(const QString &output)
{
    // Each process set starts with its p line; the f, n, … lines of its files follow.
    Holders holders;
    QSet<qint64> seen;
    Listed process;
    const auto finish = [&] {
        if (process.pid > 0 && !seen.contains(process.pid)) {
            seen.insert(process.pid);
            add(holders, process);
        }
        process = {};
    };
    for (const QString &line : output.split(QLatin1Char('\n'))) {
        const QString value = line.mid(1).trimmed();
        bool ok = false;
        if (line.startsWith(QLatin1Char('p'))) {
            finish();
            const qint64 pid = value.toLongLong(&ok);
            process.pid = ok ? pid : 0;
        } else if (line.startsWith(QLatin1Char('c'))) {
            process.command = value;
        } else if (line.startsWith(QLatin1Char('u'))) {
            const uint uid = value.toUInt(&ok);
            process.uid = ok ? std::optional(uid) : std::nullopt;
        }
    }
    finish();
    return holders;
}

QCoro::Task<Holders> of(const Platform &platform, CommandRunner &runner, QString mountPoint)
{
    // The walk of /proc goes off the event loop: a process stuck on a hung mount can stall it.
    if (platform.processFilesLister.isEmpty()) {
        auto walk = offloop::run(QStringLiteral("/proc"), [mountPoint] { return fromProc(mountPoint); }, Holders());
        const Holders found = co_await walk;
        co_return found;
    }
    // The lister fails when it finds nothing, and may warn about what it could not read: whatever
    // it did find is still on its standard output.
    const ShellResult listed = co_await runner.runAsync(platform.processFilesLister, listerArguments(mountPoint));
    co_return fromListerFields(listed.output);
}

} // namespace VolumeHolders
