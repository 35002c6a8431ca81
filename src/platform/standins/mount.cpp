// Linux stand-in for macOS's mount listing: one line per mount,
// "SOURCE on DIR (FSTYPE, read-only, nosuid, …)", from the mount table.
#include "BlockDevices.h"
#include "MountInfo.h"
#include "Text.h"

#include <cerrno>
#include <cstring>
#include <iostream>

int main(int argc, char **)
{
    if (argc > 1) {
        std::cerr << "mount: this listing takes no arguments\n";
        return 1;
    }
    const auto paths = standins::systemPaths();
    const auto mounts = standins::readMountInfo(paths.mountInfo);
    if (!mounts) {
        std::cerr << "mount: cannot read " << paths.mountInfo << ": " << std::strerror(errno) << '\n';
        return 1;
    }
    for (const auto &entry : *mounts)
        std::cout << standins::repairUtf8(standins::formatMountLine(entry)) << '\n';
    return 0;
}
