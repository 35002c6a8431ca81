#pragma once

// The Linux programs and paths that both the profile (Platform::linux) and the stand-ins use. Plain
// C++, no Qt, so that the stand-ins can include it and every path is written once.
#include <array>

namespace linuxtools {

inline constexpr const char *shell = "/bin/sh";
inline constexpr const char *pkexec = "/usr/bin/pkexec";
inline constexpr const char *umount = "/bin/umount";
inline constexpr const char *rmdir = "/bin/rmdir";

// Where the application makes its mount directories (udisks2 chooses its own).
inline constexpr const char *mountRoot = "/media/";

// fusermount3 and fusermount where distributions put them, in the order they are tried. Their
// presence is also what tells the profile that FUSE is installed.
inline constexpr std::array<const char *, 4> fusermount = {
    "/usr/bin/fusermount3",
    "/bin/fusermount3",
    "/usr/bin/fusermount",
    "/bin/fusermount",
};

} // namespace linuxtools
