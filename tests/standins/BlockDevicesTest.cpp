// Which kernel names the listing shows, and probing many devices at once against one at a time.
#include "SignatureProbe.h"
#include "StandinHarness.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace standins;
using namespace standins::testing;
namespace fs = std::filesystem;

namespace {

TEST(ListedDiskNames, WholeDisksOnlyAndTheWholeNameMustMatch)
{
    for (const char *name : {"loop0", "loop12", "sda", "sdab", "vda", "xvdc", "nvme0n1", "nvme10n2", "mmcblk0"})
        EXPECT_TRUE(isListedDiskName(name)) << name;
    using namespace std::string_view_literals;
    for (const std::string_view name : std::vector<std::string_view>{
             ""sv, "loop", "loop0p1", "sda1", "xsda", "xvd", "sd", "nvme0", "nvme0n1p1", "mmcblk0p1", "mmcblk0boot0",
          "zram0", "dm-0", "sr0", "SDA", " sda", "sda ", "0loop", "loop1\0x"sv})
        EXPECT_FALSE(isListedDiskName(name)) << '"' << name << '"';
}

std::size_t openDescriptors()
{
    return std::size_t(std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator()));
}

// More devices than are held open at once: NTFS images, blank images and nodes that do not exist,
// in turn. The probes come back in the devices' order, equal to single probes, and nothing
// stays open.
TEST(ProbeBlockDevices, ManyDevicesInTheirOrderLikeSingleProbesAndNoneLeftOpen)
{
    if (!fs::exists("/usr/sbin/mkntfs") && !fs::exists("/sbin/mkntfs"))
        GTEST_SKIP() << "mkntfs is needed to make the sample images";
    TempDir dir;
    SystemPaths paths;
    paths.dev = dir / "dev";
    paths.udevData = dir / "udev";
    const auto made = sh("mkdir -p '" + paths.dev + "' && cd '" + paths.dev
                         + "' && truncate -s 2M ntfs blank && mkntfs -q -F -f -Q -L Vol ntfs");
    ASSERT_EQ(made.exitCode, 0) << made.standardError;

    const char *kinds[] = {"ntfs", "blank", "missing"};
    std::vector<BlockDevice> devices;
    for (int i = 0; i < 150; ++i) {
        BlockDevice device;
        device.name = kinds[i % 3];
        device.size = 2 * 1024 * 1024;
        device.minor = unsigned(i);
        devices.push_back(device);
    }
    const std::size_t descriptors = openDescriptors();
    const std::vector<ProbeResult> probes = probeBlockDevices(paths, devices);
    EXPECT_EQ(openDescriptors(), descriptors);

    ASSERT_EQ(probes.size(), devices.size());
    for (std::size_t i = 0; i < probes.size(); ++i) {
        const ProbeResult &probe = probes[i];
        const ProbeResult single = probeBlockDevice(paths, devices[i]);
        SCOPED_TRACE("device " + std::to_string(i));
        EXPECT_EQ(probe.ok, i % 3 != 2);
        EXPECT_EQ(probe.fsType, i % 3 == 0 ? "ntfs" : "");
        EXPECT_EQ(probe.label, i % 3 == 0 ? std::optional<std::string>("Vol") : std::nullopt);
        EXPECT_EQ(probe.error, i % 3 == 2 ? "cannot open " + paths.dev + "/missing: No such file or directory" : "");
        EXPECT_EQ(std::tie(probe.ok, probe.error, probe.fsType, probe.label, probe.tableType),
                  std::tie(single.ok, single.error, single.fsType, single.label, single.tableType));
    }
    EXPECT_TRUE(probeBlockDevices(paths, {}).empty());
}

} // namespace
