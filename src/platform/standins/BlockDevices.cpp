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
#include <regex>

#include <fcntl.h>
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
    return paths;
}

bool isListedDiskName(std::string_view name)
{
    static const std::regex pattern("loop[0-9]+|(x?v|s)d[a-z]+|nvme[0-9]+n[0-9]+|mmcblk[0-9]+");
    return std::regex_match(name.begin(), name.end(), pattern);
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

ProbeResult probeBlockDevice(const SystemPaths &paths, const BlockDevice &device)
{
    const std::string node = device.node(paths);
    const int fd = ::open(node.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        const int openError = errno;
        ProbeResult fromUdev = probeFromUdev(paths, device);
        if (fromUdev.ok)
            return fromUdev;
        ProbeResult failed;
        failed.error = "cannot open " + node + ": " + std::strerror(openError);
        return failed;
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};

    ProbeResult result;
    const std::unique_ptr<blkid_struct_probe, void (*)(blkid_probe)> probe(blkid_new_probe(), blkid_free_probe);
    if (!probe || blkid_probe_set_device(probe.get(), fd, 0, 0) != 0) {
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
