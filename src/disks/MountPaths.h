#pragma once

#include "disks/NTFSDisk.h"

#include <QString>

// Mount directories and the shell lines that create, mount, remove and open them. Paths stand
// between double quotes with ", $, ` and \ escaped, so a volume name can never alter a command.
namespace MountPaths {

// The directory name for a volume: its name with "/" (and NUL) replaced by "-"; the device
// node when that leaves "", "." or "..", so the directory is always a child of the mount root.
QString directoryName(const NTFSDisk &disk);

// mountRoot + directoryName, and its numbered variants "NAME 1", "NAME 2", … (n > 0).
QString directory(const QString &mountRoot, const NTFSDisk &disk, int variant = 0);

// Whether `path` is the directory or one of its numbered variants for `disk`.
bool isMountDirectoryFor(const QString &mountRoot, const NTFSDisk &disk, const QString &path);

// `text` between double quotes, with ", $, ` and \ escaped by a backslash.
QString doubleQuoted(const QString &text);

QString mkdirLine(const QString &directory);
QString ntfs3gLine(const QString &ntfs3gPath, const QString &deviceNode, const QString &directory,
                   const QString &options);
QString rmdirLine(const QString &directory);
// Undoes a mount that came up read-only: unmount, then remove the directory.
QString unmountAndRemoveLine(const QString &unmountCommand, const QString &directory);

} // namespace MountPaths
