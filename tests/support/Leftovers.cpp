#include "support/Leftovers.h"

#include <QDir>

#include <sys/wait.h>

namespace testsupport {

QStringList openDescriptors()
{
    QStringList out;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString &fd : fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot))
        if (const QString target = QFile::symLinkTarget(fds.filePath(fd)); !target.isEmpty())
            out << fd + QStringLiteral(" -> ") + target; // the listing's own is closed by now: no target
    return out;
}

bool hasUnreapedChild()
{
    siginfo_t info{};
    return ::waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid != 0;
}

} // namespace testsupport
