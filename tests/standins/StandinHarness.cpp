#include "StandinHarness.h"

#include "MountInfo.h"
#include "Text.h"

#include <plist/plist.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>

#include <sys/mount.h>
#include <unistd.h>

namespace standins::testing {

bool isLeftover(const std::string &path)
{
    const std::string prefix = std::string("/tmp/") + tempPrefix;
    if (path.rfind(prefix, 0) != 0)
        return false;
    const long pid = std::atol(path.c_str() + prefix.size());
    return pid <= 0 || (::kill(pid_t(pid), 0) != 0 && errno == ESRCH);
}

ProgramResult runStandin(const std::string &tool, const std::vector<std::string> &args,
                         const std::vector<std::string> &environment)
{
    std::vector<std::string> argv{std::string(QUORVEL_STANDINS_DIR) + "/" + tool};
    argv.insert(argv.end(), args.begin(), args.end());
    return runProgram(argv, environment);
}

ProgramResult sh(const std::string &line)
{
    // A UTF-8 locale, so that tools such as mkntfs take non-ASCII labels.
    return runProgram({"/bin/sh", "-c", line}, {"PATH=/usr/sbin:/usr/bin:/sbin:/bin", "LC_ALL=C.UTF-8"});
}

void step(const std::string &line)
{
    const auto result = sh(line);
    if (result.exitCode != 0)
        throw std::runtime_error("failed: " + line + "\n" + result.standardOutput + result.standardError);
}

std::string attachLoop(const std::string &image, int partitions)
{
    ProgramResult run;
    for (int tries = 5; (run = sh("losetup -P --show -f '" + image + "'")).exitCode != 0 && --tries > 0;)
        ::sleep(1);
    const std::string node(trimmed(run.standardOutput));
    if (run.exitCode != 0 || node.rfind("/dev/", 0) != 0)
        throw std::runtime_error("losetup failed: " + run.standardError);
    // Without udev nothing scans the table; partx fails when there is none, which is fine.
    sh("partx -a " + node + " 2>/dev/null");
    for (int part = 1; part <= partitions; ++part)
        if (!std::filesystem::is_block_file(node + "p" + std::to_string(part))) {
            sh("partx -d " + node + " 2>/dev/null; losetup -d " + node);
            throw std::runtime_error("no block device " + node + "p" + std::to_string(part));
        }
    return node.substr(5);
}

std::vector<std::string> loopsWhere(const PathTest &test)
{
    std::vector<std::string> nodes;
    std::error_code error;
    for (const auto &item : std::filesystem::directory_iterator("/sys/block", error)) {
        std::ifstream backing(item.path() / "loop" / "backing_file");
        std::string file;
        if (std::getline(backing, file) && test(file))
            nodes.push_back("/dev/" + item.path().filename().string());
    }
    return nodes;
}

namespace {
std::vector<std::string> mountPoints(const std::function<bool(const MountEntry &)> &test)
{
    std::vector<std::string> points;
    for (const MountEntry &mount : readMountInfo("/proc/self/mountinfo").value_or(std::vector<MountEntry>{}))
        if (test(mount))
            points.push_back(mount.mountPoint);
    return points;
}
} // namespace

std::vector<std::string> mountPointsWhere(const PathTest &test)
{
    return mountPoints([&](const MountEntry &mount) { return test(mount.mountPoint); });
}

std::vector<std::string> mountPointsOf(const std::string &device)
{
    return mountPoints([&](const MountEntry &mount) { return mount.source == device; });
}

namespace {
void unmount(const std::vector<std::string> &points)
{
    for (auto it = points.rbegin(); it != points.rend(); ++it)
        if (::umount2(it->c_str(), 0) != 0)
            ::umount2(it->c_str(), MNT_DETACH);
}
} // namespace

void removeWhere(const PathTest &test)
{
    unmount(mountPointsWhere(test));
    for (const std::string &node : loopsWhere(test)) {
        // Mounted elsewhere too, as udisks2 does under /media.
        unmount(mountPoints([&](const MountEntry &mount) {
            return mount.source == node || mount.source.rfind(node + "p", 0) == 0;
        }));
        sh("partx -d " + node + " 2>/dev/null; losetup -d " + node);
    }
    std::error_code error;
    for (const auto &item : std::filesystem::directory_iterator("/tmp", error))
        if (test(item.path().string()))
            std::filesystem::remove_all(item.path(), error);
}

PathTest under(const std::string &prefix)
{
    return [prefix](const std::string &path) { return path.rfind(prefix, 0) == 0; };
}

TempDir::TempDir()
{
    std::string pattern = std::string("/tmp/") + tempPrefix + std::to_string(::getpid()) + "-XXXXXX";
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    m_path = pattern;
}

TempDir::~TempDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

void writeFile(const std::string &path, const std::string &content)
{
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << content;
}

namespace {

std::string text(plist_t node)
{
    std::string out;
    switch (plist_get_node_type(node)) {
    case PLIST_DICT: {
        plist_dict_iter iter = nullptr;
        plist_dict_new_iter(node, &iter);
        for (;;) {
            char *key = nullptr;
            plist_t value = nullptr;
            plist_dict_next_item(node, iter, &key, &value);
            if (!key)
                break;
            out += (out.empty() ? "" : ", ") + std::string(key) + "=" + text(value);
            std::free(key);
        }
        std::free(iter);
        return "{" + out + "}";
    }
    case PLIST_ARRAY:
        for (uint32_t i = 0; i < plist_array_get_size(node); ++i)
            out += (i ? ", " : "") + text(plist_array_get_item(node, i));
        return "[" + out + "]";
    case PLIST_STRING: {
        char *value = nullptr;
        plist_get_string_val(node, &value);
        out = value ? value : "";
        std::free(value);
        return out;
    }
    case PLIST_UINT: {
        uint64_t value = 0;
        plist_get_uint_val(node, &value);
        return std::to_string(static_cast<std::int64_t>(value));
    }
    case PLIST_BOOLEAN: {
        uint8_t value = 0;
        plist_get_bool_val(node, &value);
        return value ? "true" : "false";
    }
    default:
        return "?";
    }
}

std::shared_ptr<void> parse(const std::string &xml)
{
    plist_t root = nullptr;
    plist_from_xml(xml.data(), static_cast<uint32_t>(xml.size()), &root);
    return {root, [](void *node) {
                if (node)
                    plist_free(static_cast<plist_t>(node));
            }};
}

} // namespace

std::optional<std::string> plistText(const std::string &xml)
{
    const auto root = parse(xml);
    return root ? std::optional(text(root.get())) : std::nullopt;
}

std::vector<std::string> plistItems(const std::string &xml, const char *key)
{
    const auto root = parse(xml);
    std::vector<std::string> items;
    plist_t array = root && plist_get_node_type(root.get()) == PLIST_DICT ? plist_dict_get_item(root.get(), key) : nullptr;
    if (array && plist_get_node_type(array) == PLIST_ARRAY)
        for (uint32_t i = 0; i < plist_array_get_size(array); ++i)
            items.push_back(text(plist_array_get_item(array, i)));
    return items;
}

std::string diskEntry(const std::string &id, std::int64_t size, const std::string &content,
                      const std::vector<std::string> &partitions)
{
    std::string text = "{DeviceIdentifier=" + id + ", Size=" + std::to_string(size) + ", Content=" + content;
    for (std::size_t i = 0; i < partitions.size(); ++i)
        text += (i ? ", " : ", Partitions=[") + partitions[i] + (i + 1 == partitions.size() ? "]" : "");
    return text + "}";
}

} // namespace standins::testing
