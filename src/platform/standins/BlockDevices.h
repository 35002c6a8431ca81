#pragma once

// The disks and partitions the kernel knows, read from sysfs.
#include "MountInfo.h"
#include "platform/LinuxTools.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace standins {

// Where the stand-ins read the system's state.
struct SystemPaths {
    std::string sysfs = "/sys";
    std::string dev = "/dev";
    std::string mountInfo = "/proc/self/mountinfo";
    std::string udevData = "/run/udev/data";
    std::string mountRoot = linuxtools::mountRoot;
};

// The paths a stand-in program works with. The installed programs take the fixed ones above and
// nothing from their environment, since they may run as root (FixedSystemPaths.cpp); the tests'
// own build of them presents a made-up machine instead (tests/standins/HookedSystemPaths.cpp).
SystemPaths systemPaths();

struct BlockDevice {
    std::string name; // kernel name: "sda", "loop3p1", "nvme0n1p2"
    std::int64_t size = 0; // bytes
    unsigned major = 0;
    unsigned minor = 0;
    int partitionNumber = 0; // 0 for a whole disk

    std::string node(const SystemPaths &paths) const { return paths.dev + "/" + name; }
};

// True for the whole-disk names the listing shows: sdX, vdX, xvdX, nvmeNnM, mmcblkN, loopN.
bool isListedDiskName(std::string_view name);

// The whole disks to list, in natural order of their names: matching names only, not hidden,
// not empty, and loop devices only while a file is attached.
std::vector<BlockDevice> listWholeDisks(const SystemPaths &paths);

// The partitions the kernel knows on `disk`, in partition-number order.
std::vector<BlockDevice> listPartitions(const SystemPaths &paths, const BlockDevice &disk);

// `id` without a leading "/dev/": the disk utility's commands take either form.
std::string_view withoutDevPrefix(std::string_view id);

// A disk or partition by kernel name ("loop3p1"; a leading "/dev/" is accepted).
std::optional<BlockDevice> findBlockDevice(const SystemPaths &paths, std::string_view id);

// Whether `entry` mounts `device`: the same device number, or a source naming its node (FUSE
// mounts such as ntfs-3g's carry the node as their source).
bool mountsDevice(const MountEntry &entry, const BlockDevice &device, const SystemPaths &paths);

} // namespace standins
