#pragma once

#include "disks/DiskError.h"
#include "platform/Platform.h"
#include "support/WriteScript.h"

#include <QCoro/QCoroTask>
#include <QString>
#include <QtCore/qtestsupport_core.h>

#include <functional>
#include <optional>
#include <ostream>

namespace testsupport {

// The Linux profile pointing at the build tree's stand-ins (its libexec/quorvel-ntfs-mount).
Platform linuxProfile();

// Empty when the test may use loop devices, FUSE and root; otherwise the reason it may not.
QString realDeviceSkipReason();

// Runs `task` to completion on a nested event loop and returns its value.
template<typename T>
T await(QCoro::Task<T> &&task)
{
    return QCoro::waitFor(std::move(task));
}

// Runs the event loop (and deletes what was deleted later) until `condition` holds; false when it
// still does not after `timeoutMs`: a safety net against hangs, not a timing check.
inline bool processEventsUntil(const std::function<bool()> &condition, int timeoutMs = 20000)
{
    return QTest::qWaitFor(condition, timeoutMs);
}

// An unmount of a busy volume that failed as both backends fail it: code 4, the system's words
// saying busy, the holders named (the `sleep` child `childPid` and this process) and the retry offered.
void expectBusyNamingHolders(const std::optional<DiskError> &error, qint64 childPid);

} // namespace testsupport

// Readable failure messages for Qt strings (and so for lists of them).
inline void PrintTo(const QString &text, std::ostream *os)
{
    *os << '"' << text.toStdString() << '"';
}
