#pragma once

// What the disks hold: their signatures read with libblkid.
#include "BlockDevices.h"

#include <optional>
#include <string>
#include <vector>

namespace standins {

// What a device holds, as far as libblkid (or udev's record of it) can tell.
struct ProbeResult {
    bool ok = false;
    std::string error;     // why the device could not be read, when !ok
    std::string fsType;    // blkid TYPE: "ntfs", "ext4", … or empty
    std::optional<std::string> label; // absent when the volume has none
    std::string tableType; // blkid PTTYPE: "dos", "gpt", … or empty
};

// Reads the device's signatures with libblkid. When the device cannot be opened (an ordinary user
// may not read /dev/sdX), falls back to udev's database, which holds the same facts.
ProbeResult probeBlockDevice(const SystemPaths &paths, const BlockDevice &device);

// probeBlockDevice for each of `devices`, in their order. The devices are opened, and their
// reads started, together before the first one is probed, so their reads overlap.
std::vector<ProbeResult> probeBlockDevices(const SystemPaths &paths, const std::vector<BlockDevice> &devices);

// The "Content" text: "Windows_NTFS" for NTFS, the partition-scheme name for a whole disk with a
// table, otherwise the file-system type, or empty.
std::string contentOf(const ProbeResult &probe);

} // namespace standins
