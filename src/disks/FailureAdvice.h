#pragma once

// What the user is told, in the application's own words, when a volume cannot be mounted
// read-write or unmounted: what happened and what to do. The backends attach it to their errors;
// the window's alert and the tray's notification show it in the same words.
#include "disks/DiskError.h"

#include <QList>
#include <QString>

namespace FailureAdvice {

// Why a volume could only be mounted read-only.
enum class ReadOnlyCause {
    Hibernated,  // Windows hibernated, or shut down with Fast Startup: the volume is still in use
    Unclean,     // Windows did not close the volume cleanly (its dirty flag, or an unfinished journal)
    Unknown,
};

// The cause as ntfs-3g's own messages tell it, and the volume itself: `hibernationFile` is the
// start of its hiberfil.sys (empty where there is none or it could not be read).
ReadOnlyCause readOnlyCause(const QString &ntfs3gOutput, const QByteArray &hibernationFile);

// `error` (a mount that failed, or came up read-only) with the explanation for `cause` and the
// read-only mount offered.
DiskError offerReadOnly(DiskError error, ReadOnlyCause cause);

// A read-write mount refused before it started: Windows marked the volume dirty, or left its
// journal open.
DiskError markedDirty();
// A read-write mount refused before it started: the volume's state could not be learnt, `why`.
DiskError stateNotRead(const QString &why);

// A program that holds a file, a directory or its working directory on a volume.
struct Holder {
    qint64 pid = 0;
    QString name;
    friend bool operator==(const Holder &, const Holder &) = default;
};

// Those holding a volume: the user's own programs by name, other accounts' only counted.
struct Holders {
    QList<Holder> named;
    int othersCount = 0;
    bool isEmpty() const { return named.isEmpty() && othersCount == 0; }
};

// An unmount that failed: where programs hold the volume, or the system said it is busy (the
// error's cause), `error` names them, says to close them, and offers to try again.
DiskError offerRetry(DiskError error, const Holders &holders);

} // namespace FailureAdvice
