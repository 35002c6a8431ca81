#include "BlockDevices.h"

#include "Text.h"

#include <blkid/blkid.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>

#include <fcntl.h>
#include <regex.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace standins {

namespace {

std::optional<std::string> readFirstLine(const fs::path &path)
{
    std::ifstream in(path);
    if (!in)
        return std::nullopt;
    std::string line;
    std::getline(in, line);
    return std::string(trimmed(line));
}

template<typename Int>
std::optional<Int> readNumber(const fs::path &path)
{
    const auto text = readFirstLine(path);
    Int value{};
    if (!text || text->empty())
        return std::nullopt;
    const auto result = std::from_chars(text->data(), text->data() + text->size(), value);
    if (result.ec != std::errc() || result.ptr != text->data() + text->size())
        return std::nullopt;
    return value;
}

// Size, device number and partition number from a sysfs device directory.
std::optional<BlockDevice> readDevice(const fs::path &dir, std::string name)
{
    const auto sectors = readNumber<std::int64_t>(dir / "size");
    const auto dev = readFirstLine(dir / "dev");
    if (!sectors || !dev)
        return std::nullopt;
    BlockDevice device;
    device.name = std::move(name);
    // sysfs counts 512-byte sectors whatever the device's own sector size.
    device.size = *sectors > LLONG_MAX / 512 ? LLONG_MAX : *sectors * 512;
    const auto colon = dev->find(':');
    if (colon == std::string::npos)
        return std::nullopt;
    const auto majorEnd = dev->data() + colon;
    if (std::from_chars(dev->data(), majorEnd, device.major).ec != std::errc()
        || std::from_chars(majorEnd + 1, dev->data() + dev->size(), device.minor).ec != std::errc())
        return std::nullopt;
    device.partitionNumber = readNumber<int>(dir / "partition").value_or(0);
    return device;
}

std::string environmentOr(const char *variable, std::string fallback)
{
    const char *value = std::getenv(variable);
    return value && *value ? std::string(value) : std::move(fallback);
}

// udev's record of a device: "E:KEY=VALUE" lines in /run/udev/data/bMAJOR:MINOR.
ProbeResult probeFromUdev(const SystemPaths &paths, const BlockDevice &device)
{
    ProbeResult result;
    std::ifstream in(paths.udevData + "/b" + std::to_string(device.major) + ":" + std::to_string(device.minor));
    if (!in)
        return result;
    result.ok = true;
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("E:", 0) != 0)
            continue;
        const auto equals = line.find('=');
        if (equals == std::string::npos)
            continue;
        const std::string key = line.substr(2, equals - 2);
        const std::string value = line.substr(equals + 1);
        if (key == "ID_FS_TYPE")
            result.fsType = value;
        else if (key == "ID_FS_LABEL_ENC" && !value.empty())
            result.label = decodeHexEscapes(value);
        else if (key == "ID_PART_TABLE_TYPE")
            result.tableType = value;
    }
    return result;
}

std::string lookup(blkid_probe probe, const char *name)
{
    const char *data = nullptr;
    if (blkid_probe_lookup_value(probe, name, &data, nullptr) == 0 && data)
        return data;
    return {};
}

// Asks the kernel to read, in a few large requests issued at once, the places where libblkid's
// probers look for signatures: the first 68 KiB, single pages at 128 KiB … 2 MiB and the last
// 132 KiB. The kernel drops a block device's cached pages when its last user closes it, so
// without this every probe pays one synchronous read per signature location. Only a hint: what
// the probe finds does not depend on it.
void prefetchSignatureAreas(int fd, std::int64_t size)
{
    constexpr std::int64_t KiB = 1024;
    constexpr std::int64_t head = 68 * KiB;
    constexpr std::int64_t tail = 132 * KiB;
    constexpr std::int64_t page = 4 * KiB;
    if (size <= 0)
        return;
    ::posix_fadvise(fd, 0, std::min(size, head), POSIX_FADV_WILLNEED);
    for (std::int64_t offset = 128 * KiB; offset <= 2048 * KiB && offset < size; offset *= 2)
        ::posix_fadvise(fd, offset, page, POSIX_FADV_WILLNEED);
    if (size > head)
        ::posix_fadvise(fd, std::max(head, size - tail), size - std::max(head, size - tail), POSIX_FADV_WILLNEED);
}

std::string canonical(const std::string &path)
{
    char resolved[PATH_MAX];
    return ::realpath(path.c_str(), resolved) ? std::string(resolved) : path;
}

} // namespace

SystemPaths SystemPaths::fromEnvironment()
{
    SystemPaths paths;
    paths.sysfs = environmentOr("QUORVEL_SYSFS_ROOT", paths.sysfs);
    paths.dev = environmentOr("QUORVEL_DEV_ROOT", paths.dev);
    paths.mountInfo = environmentOr("QUORVEL_MOUNTINFO", paths.mountInfo);
    paths.udevData = environmentOr("QUORVEL_UDEV_DATA", paths.udevData);
    paths.mountRoot = environmentOr("QUORVEL_MOUNT_ROOT", paths.mountRoot);
    return paths;
}

bool isListedDiskName(std::string_view name)
{
    // The C library's matcher: std::regex takes longer to compile this than the listing takes
    // to read every disk.
    struct Pattern {
        regex_t compiled;
        Pattern() { ::regcomp(&compiled, "^(loop[0-9]+|(x?v|s)d[a-z]+|nvme[0-9]+n[0-9]+|mmcblk[0-9]+)$", REG_EXTENDED | REG_NOSUB); }
        ~Pattern() { ::regfree(&compiled); }
    };
    static const Pattern pattern;
    const std::string text(name);
    return text.size() == std::strlen(text.c_str()) && ::regexec(&pattern.compiled, text.c_str(), 0, nullptr, 0) == 0;
}

std::vector<BlockDevice> listWholeDisks(const SystemPaths &paths)
{
    std::vector<BlockDevice> disks;
    std::error_code error;
    const fs::path blockDir = fs::path(paths.sysfs) / "block";
    for (const auto &item : fs::directory_iterator(blockDir, error)) {
        const std::string name = item.path().filename().string();
        if (!isListedDiskName(name))
            continue;
        const fs::path dir = blockDir / name;
        if (readNumber<int>(dir / "hidden").value_or(0) != 0) // e.g. nvme multipath paths
            continue;
        if (name.rfind("loop", 0) == 0 && readFirstLine(dir / "loop" / "backing_file").value_or("").empty())
            continue; // a loop device with nothing attached
        auto device = readDevice(dir, name);
        if (device && device->size > 0) // an empty card reader or an unattached device
            disks.push_back(std::move(*device));
    }
    std::sort(disks.begin(), disks.end(),
              [](const BlockDevice &a, const BlockDevice &b) { return naturalLess(a.name, b.name); });
    return disks;
}

std::vector<BlockDevice> listPartitions(const SystemPaths &paths, const BlockDevice &disk)
{
    std::vector<BlockDevice> partitions;
    std::error_code error;
    const fs::path diskDir = fs::path(paths.sysfs) / "block" / disk.name;
    for (const auto &item : fs::directory_iterator(diskDir, error)) {
        if (!fs::exists(item.path() / "partition"))
            continue;
        if (auto partition = readDevice(item.path(), item.path().filename().string()))
            partitions.push_back(std::move(*partition));
    }
    std::sort(partitions.begin(), partitions.end(), [](const BlockDevice &a, const BlockDevice &b) {
        if (a.partitionNumber != b.partitionNumber)
            return a.partitionNumber < b.partitionNumber;
        return naturalLess(a.name, b.name);
    });
    return partitions;
}

std::optional<BlockDevice> findBlockDevice(const SystemPaths &paths, std::string_view id)
{
    if (id.rfind("/dev/", 0) == 0)
        id.remove_prefix(5);
    if (id.empty() || id == "." || id == ".." || id.find('/') != std::string_view::npos)
        return std::nullopt;
    return readDevice(fs::path(paths.sysfs) / "class" / "block" / std::string(id), std::string(id));
}

namespace {

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

bool mountsDevice(const MountEntry &entry, const BlockDevice &device, const SystemPaths &paths)
{
    if (entry.major == device.major && entry.minor == device.minor)
        return true;
    if (entry.source.empty() || entry.source.front() != '/')
        return false;
    const std::string node = device.node(paths);
    return entry.source == node || canonical(entry.source) == canonical(node);
}

} // namespace standins
