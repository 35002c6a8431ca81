// The tests' build of the stand-ins: each path can be moved with an environment variable, so that
// a test can present a made-up machine. Never part of an installed program.
#include "BlockDevices.h"

#include <cstdlib>
#include <utility>

standins::SystemPaths standins::systemPaths()
{
    SystemPaths paths;
    for (const auto &[variable, path] : {std::pair{"QUORVEL_SYSFS_ROOT", &paths.sysfs}, {"QUORVEL_DEV_ROOT", &paths.dev},
                                         {"QUORVEL_MOUNTINFO", &paths.mountInfo}, {"QUORVEL_UDEV_DATA", &paths.udevData},
                                         {"QUORVEL_MOUNT_ROOT", &paths.mountRoot}})
        if (const char *value = std::getenv(variable); value && *value)
            *path = value;
    return paths;
}
