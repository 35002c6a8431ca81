#pragma once

// Facts read from an NTFS volume's own structures, without mounting it.
#include "shell/FileProbe.h"

#include <QString>

#include <optional>

namespace NtfsVolume {

// Whether Windows left the volume marked dirty (not closed cleanly: it wants a disk check). Read
// from the $Volume record of the master file table on `device`; nothing where the device cannot
// be read (the user may not read raw disks) or holds no NTFS that this reading understands.
std::optional<bool> isMarkedDirty(const FileProbe &files, const QString &device);

} // namespace NtfsVolume
