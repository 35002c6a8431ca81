#pragma once

// The read-write (or read-only) mount and the unmount, step by step, written once for every
// backend and platform: the checks that keep a volume Windows still holds from being written, the
// four errors and their words, what a failure undoes, the remedies offered, and the opener. The
// backend takes each single step.
#include "disks/DiskBackend.h"
#include "disks/DiskError.h"
#include "disks/NTFSDisk.h"

#include <QCoro/QCoroTask>

#include <memory>
#include <optional>

namespace MountSequence {

// How an operation ended: its error, if any, and whether the system's mounts may have changed,
// in which case the model rescans so that the list shows what is left.
struct Outcome {
    std::optional<DiskError> error;
    bool changed = true;
};

// Mounts `disk` through ntfs-3g, first removing the system's own mount of it. A read-write mount
// is refused for a volume Windows marked dirty or left with its journal open, and undone where
// the volume came up read-only or not through ntfs-3g; both then offer the read-only mount.
QCoro::Task<Outcome> mount(std::shared_ptr<DiskBackend> backend, NTFSDisk disk, QString ntfs3gPath, bool readOnly);

// Unmounts `disk`. A volume held by programs stays mounted: the error names them and offers to
// try again.
QCoro::Task<Outcome> unmount(std::shared_ptr<DiskBackend> backend, NTFSDisk disk);

} // namespace MountSequence
