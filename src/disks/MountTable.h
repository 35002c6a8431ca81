#pragma once

#include "disks/NTFSDisk.h"

#include <QList>
#include <QString>

// Correcting mount state from the text of the mount-table listing: one mount per line,
// "SOURCE on DIR (TYPE, option, …)".
namespace MountTable {

// Returns `disks` (same length and order) with `mountPoint` and `isWritable` taken from the
// lines that concern each record; the last such line decides. A line concerns a record when
// its source is exactly the record's device path, or, for a source that is no /dev/ path (FUSE
// and NFS style mounts), when its directory is one that a read-write mount of the record uses.
// With `fuseMountsAreWritable`, FUSE and NFS mounts always count as writable.
QList<NTFSDisk> apply(QList<NTFSDisk> disks, const QString &listing, const QString &mountRoot,
                      bool fuseMountsAreWritable = true);

} // namespace MountTable
