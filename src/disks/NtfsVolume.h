#pragma once

// Facts read from an NTFS volume's own structures, without mounting it.
#include "shell/FileProbe.h"

#include <QString>

#include <optional>

namespace NtfsVolume {

// Whether Windows left the volume marked dirty, or its journal left open: not closed cleanly (it
// wants a disk check, or kept the volume's metadata in its cache). Read from the $Volume record of
// the master file table on `device`, and from the restart pages of its journal ($LogFile) as
// ntfs-3g reads them before a read-write mount; nothing where the device cannot be read (the user
// may not read raw disks) or holds no NTFS that this reading understands. A journal that cannot be
// read or understood leaves the answer to the dirty flag.
std::optional<bool> isMarkedDirty(const FileProbe &files, const QString &device);

} // namespace NtfsVolume
