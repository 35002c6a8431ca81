#include "BlockDevices.h"

#include "Text.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

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

std::string canonical(const std::string &path)
{
    char resolved[PATH_MAX];
    return ::realpath(path.c_str(), resolved) ? std::string(resolved) : path;
}

} // namespace

std::string_view withoutDevPrefix(std::string_view id)
{
    constexpr std::string_view prefix = "/dev/";
    if (id.substr(0, prefix.size()) == prefix)
        id.remove_prefix(prefix.size());
    return id;
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
    id = withoutDevPrefix(id);
    if (id.empty() || id == "." || id == ".." || id.find('/') != std::string_view::npos)
        return std::nullopt;
    return readDevice(fs::path(paths.sysfs) / "class" / "block" / std::string(id), std::string(id));
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
