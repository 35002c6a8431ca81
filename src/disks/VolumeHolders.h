#pragma once

// The programs that keep a mounted volume busy: a file open or mapped on it, or their working
// directory, root or executable there. Found without touching the volume itself (a FUSE volume
// whose daemon died would hang whoever looks at it): only the names the system keeps for each
// process are compared with the mount point.
#include "disks/FailureAdvice.h"
#include "platform/Platform.h"
#include "shell/CommandRunner.h"

#include <QCoro/QCoroTask>
#include <QString>
#include <QStringList>

namespace VolumeHolders {

// Those holding the volume mounted at `mountPoint`: through the profile's process-files lister
// where it has one (lsof on macOS), else from /proc. Programs of the account running this one are
// named, other accounts' counted; a process that cannot be read, or went meanwhile, is left out.
QCoro::Task<FailureAdvice::Holders> of(const Platform &platform, CommandRunner &runner, QString mountPoint);

// The same from a /proc tree at `procRoot`, read in place; the owner is the real uid of each
// process's `status`.
FailureAdvice::Holders fromProc(const QString &mountPoint, const QString &procRoot = QStringLiteral("/proc"));

// The lister's arguments for `mountPoint`: every file open on the file system mounted there, as
// process sets of its fields p (pid), c (command) and u (uid).
QStringList listerArguments(const QString &mountPoint);
// Its output.
FailureAdvice::Holders fromListerFields(const QString &output);

} // namespace VolumeHolders
