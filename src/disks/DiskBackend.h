#pragma once

#include "disks/DiskError.h"
#include "disks/NTFSDisk.h"

#include <QCoro/QCoroTask>
#include <QList>
#include <QObject>

#include <optional>

// Where the disk model's records come from and how its two operations reach the system: the disk
// utility's command lines, or a disk service on the system bus. Lives on the main thread. Its
// coroutines keep what they need alive themselves, so the backend may go while one runs.
class DiskBackend : public QObject {
    Q_OBJECT

public:
    // How a mount or an unmount ended: its error, if any, and whether the system's mounts may have
    // changed, in which case the model rescans so that the list shows what is left.
    struct Outcome {
        std::optional<DiskError> error;
        bool changed = true;
    };

    using QObject::QObject;

    // Every NTFS partition, in discovery order. Never fails: what cannot be read is left out.
    virtual QCoro::Task<QList<NTFSDisk>> discover() = 0;
    // Mounts `disk` read-write through ntfs-3g, first removing the system's own mount of it.
    virtual QCoro::Task<Outcome> mountReadWrite(NTFSDisk disk, QString ntfs3gPath) = 0;
    // Mounts `disk` read-only through ntfs-3g, as above: for a volume that cannot be written.
    virtual QCoro::Task<Outcome> mountReadOnly(NTFSDisk disk, QString ntfs3gPath) = 0;
    virtual QCoro::Task<Outcome> unmount(NTFSDisk disk) = 0;
    // Whether `disk`, no longer listed, has really gone: its device no longer exists (a listing
    // that could not be read leaves disks out too).
    virtual QCoro::Task<bool> isDetached(NTFSDisk disk) = 0;
    // After `disk` went away while it was mounted: takes down what is left of its mount, and the
    // empty directory it leaves, where the system does not do so itself.
    virtual QCoro::Task<> cleanUpAfterRemoval(NTFSDisk disk) = 0;

Q_SIGNALS:
    // The disks or their mounts changed behind the model's back: a disk attached or removed, a
    // volume mounted or unmounted by another program.
    void changed();
};
