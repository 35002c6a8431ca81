#include "SignatureProbe.h"

#include "ReadAhead.h"
#include "UdevDatabase.h"

#include <blkid/blkid.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include <fcntl.h>
#include <unistd.h>

namespace standins {

namespace {

std::string lookup(blkid_probe probe, const char *name)
{
    const char *data = nullptr;
    if (blkid_probe_lookup_value(probe, name, &data, nullptr) == 0 && data)
        return data;
    return {};
}

// A device node opened for a probe, with its signature areas already requested.
class OpenedDevice {
public:
    OpenedDevice(const std::string &node, std::int64_t size)
        : m_fd(::open(node.c_str(), O_RDONLY | O_CLOEXEC))
        , m_error(m_fd < 0 ? errno : 0)
    {
        if (m_fd >= 0)
            prefetchSignatureAreas(m_fd, size);
    }
    ~OpenedDevice()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    OpenedDevice(const OpenedDevice &) = delete;
    OpenedDevice &operator=(const OpenedDevice &) = delete;

    int fd() const { return m_fd; }
    int error() const { return m_error; }

private:
    int m_fd;
    int m_error;
};

ProbeResult probeOpened(const SystemPaths &paths, const BlockDevice &device, const OpenedDevice &opened)
{
    const std::string node = device.node(paths);
    if (opened.fd() < 0) {
        ProbeResult fromUdev = probeFromUdev(paths, device);
        if (fromUdev.ok)
            return fromUdev;
        ProbeResult failed;
        failed.error = "cannot open " + node + ": " + std::strerror(opened.error());
        return failed;
    }

    ProbeResult result;
    const std::unique_ptr<blkid_struct_probe, void (*)(blkid_probe)> probe(blkid_new_probe(), blkid_free_probe);
    if (!probe || blkid_probe_set_device(probe.get(), opened.fd(), 0, 0) != 0) {
        result.error = "cannot probe " + node;
        return result;
    }
    blkid_probe_enable_superblocks(probe.get(), 1);
    blkid_probe_set_superblocks_flags(probe.get(), BLKID_SUBLKS_TYPE | BLKID_SUBLKS_LABEL);
    blkid_probe_enable_partitions(probe.get(), 1);
    const int status = blkid_do_safeprobe(probe.get());
    if (status < 0 && status != -2) { // -2: conflicting signatures, which we report as nothing found
        result.error = "cannot read " + node;
        return result;
    }
    result.ok = true;
    if (status == 0) {
        result.fsType = lookup(probe.get(), "TYPE");
        result.tableType = lookup(probe.get(), "PTTYPE");
        if (std::string label = lookup(probe.get(), "LABEL"); !label.empty())
            result.label = std::move(label);
    }
    return result;
}

// How many devices are held open at once while their reads are under way.
constexpr std::size_t kOpenAtOnce = 64;

} // namespace

ProbeResult probeBlockDevice(const SystemPaths &paths, const BlockDevice &device)
{
    const OpenedDevice opened(device.node(paths), device.size);
    return probeOpened(paths, device, opened);
}

std::vector<ProbeResult> probeBlockDevices(const SystemPaths &paths, const std::vector<BlockDevice> &devices)
{
    std::vector<ProbeResult> results;
    results.reserve(devices.size());
    for (std::size_t first = 0; first < devices.size(); first += kOpenAtOnce) {
        const std::size_t count = std::min(kOpenAtOnce, devices.size() - first);
        // Every device of the group is open, and its reads requested, before the first probe.
        std::vector<std::unique_ptr<OpenedDevice>> group;
        group.reserve(count);
        for (std::size_t i = 0; i < count; ++i)
            group.push_back(std::make_unique<OpenedDevice>(devices[first + i].node(paths), devices[first + i].size));
        for (std::size_t i = 0; i < count; ++i) {
            results.push_back(probeOpened(paths, devices[first + i], *group[i]));
            group[i].reset();
        }
    }
    return results;
}

std::string contentOf(const ProbeResult &probe)
{
    if (probe.fsType == "ntfs")
        return "Windows_NTFS";
    if (probe.tableType == "gpt")
        return "GUID_partition_scheme";
    if (probe.tableType == "dos")
        return "FDisk_partition_scheme";
    if (probe.tableType == "mac")
        return "Apple_partition_scheme";
    if (!probe.tableType.empty())
        return probe.tableType;
    return probe.fsType;
}

} // namespace standins
