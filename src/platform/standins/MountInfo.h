#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace standins {

// One line of /proc/<pid>/mountinfo, with the kernel's octal escapes decoded.
struct MountEntry {
    int id = 0;
    int parentId = 0;
    unsigned major = 0;
    unsigned minor = 0;
    std::string root;
    std::string mountPoint;
    std::string mountOptions; // per-mount options, e.g. "rw,nosuid,relatime"
    std::string fsType;
    std::string source;
    std::string superOptions; // options of the file system itself

    // Read-only when either the mount or the file system itself is read-only.
    bool isReadOnly() const;
};

// Parses one mountinfo line; nothing when it lacks the fields the kernel always writes.
std::optional<MountEntry> parseMountInfoLine(std::string_view line);

// Every well-formed line of a mountinfo text, in its order (oldest mount first).
std::vector<MountEntry> parseMountInfo(std::string_view text);

// Reads and parses a mountinfo file; nothing when the file cannot be read.
std::optional<std::vector<MountEntry>> readMountInfo(const std::string &path);

// True when the comma-separated `options` contain `option` as a whole word.
bool hasOption(std::string_view options, std::string_view option);

// Whether a mount's file-system type is a FUSE one: the kernel's "fuse", "fuseblk" (ntfs-3g's)
// and "fuse.NAME", and the types the FUSE layers on macOS give their volumes, which name FUSE as
// well. FUSE's control file system (fusectl) mounts no volume and is none.
bool isFuseType(std::string_view fsType);

// The line of the `mount` stand-in: "SOURCE on DIR (FSTYPE, read-only, nosuid, …)".
// Line feeds and carriage returns in SOURCE and DIR stay escaped (\012, \015) so that each mount
// keeps to one line.
std::string formatMountLine(const MountEntry &entry);

} // namespace standins
