#include "support/Leftovers.h"

#include <QDir>

#include <sys/wait.h>
#include <unistd.h>

namespace testsupport {

namespace {
QStringList descriptorsOf(const QString &process)
{
    QStringList out;
    const QDir fds(QStringLiteral("/proc/%1/fd").arg(process));
    for (const QString &fd : fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot))
        if (const QString target = QFile::symLinkTarget(fds.filePath(fd)); !target.isEmpty())
            out << fd + QStringLiteral(" -> ") + target; // the listing's own is closed by now: no target
    return out;
}
} // namespace

QStringList openDescriptors()
{
    return descriptorsOf(QString::number(::getpid()));
}

bool hasUnreapedChild()
{
    siginfo_t info{};
    return ::waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid != 0;
}

QStringList processesHolding(const QString &path)
{
    QStringList out;
    for (const QString &pid : QDir(QStringLiteral("/proc")).entryList({QStringLiteral("[0-9]*")}, QDir::Dirs))
        if (pid.toInt() != ::getpid() && descriptorsOf(pid).join('\n').append('\n').contains(" -> " + path + '\n'))
            out << pid;
    return out;
}

} // namespace testsupport
