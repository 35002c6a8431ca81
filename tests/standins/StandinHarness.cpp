#include "StandinHarness.h"

#include "MountInfo.h"
#include "Text.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include <sys/mount.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace standins::testing {

namespace {

// Followed by the pid of the process that made the directory.
const std::string tempPrefix = "/tmp/quorvel-standins-test-";

std::vector<std::string> mountPoints(const std::function<bool(const MountEntry &)> &test)
{
    std::vector<std::string> points;
    for (const MountEntry &mount : readMountInfo("/proc/self/mountinfo").value_or(std::vector<MountEntry>{}))
        if (test(mount))
            points.push_back(mount.mountPoint);
    return points;
}

void unmount(const std::vector<std::string> &points)
{
    for (auto it = points.rbegin(); it != points.rend(); ++it)
        if (::umount2(it->c_str(), 0) != 0)
            ::umount2(it->c_str(), MNT_DETACH);
}

} // namespace

bool isLeftover(const std::string &path)
{
    if (path.rfind(tempPrefix, 0) != 0)
        return false;
    const long pid = std::atol(path.c_str() + tempPrefix.size());
    return pid <= 0 || (::kill(pid_t(pid), 0) != 0 && errno == ESRCH);
}

ProgramResult runStandin(const std::string &tool, const std::vector<std::string> &args,
                         const std::vector<std::string> &environment, std::vector<std::string> before)
{
    before.push_back(std::string(QUORVEL_STANDINS_DIR) + "/" + tool);
    before.insert(before.end(), args.begin(), args.end());
    return runProgram(before, environment);
}

ProgramResult sh(const std::string &line)
{
    // A UTF-8 locale, so that tools such as mkntfs take non-ASCII labels.
    return runProgram({"/bin/sh", "-c", line}, {"PATH=/usr/sbin:/usr/bin:/sbin:/bin", "LC_ALL=C.UTF-8"});
}

void step(const std::string &line)
{
    if (const auto result = sh(line); result.exitCode != 0)
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
        if (!fs::is_block_file(node + "p" + std::to_string(part))) {
            sh("partx -d " + node + " 2>/dev/null; losetup -d " + node);
            throw std::runtime_error("no block device " + node + "p" + std::to_string(part));
        }
    return node.substr(5);
}

std::vector<std::string> loopsWhere(const PathTest &test)
{
    std::vector<std::string> nodes;
    std::error_code error;
    for (const auto &item : fs::directory_iterator("/sys/block", error)) {
        std::ifstream backing(item.path() / "loop" / "backing_file");
        if (std::string file; std::getline(backing, file) && test(file))
            nodes.push_back("/dev/" + item.path().filename().string());
    }
    return nodes;
}

std::vector<std::string> mountPointsWhere(const PathTest &test)
{
    return mountPoints([&](const MountEntry &mount) { return test(mount.mountPoint); });
}

std::vector<std::string> mountPointsOf(const std::string &device)
{
    return mountPoints([&](const MountEntry &mount) { return mount.source == device; });
}

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
    for (const auto &item : fs::directory_iterator("/tmp", error))
        if (test(item.path().string()))
            fs::remove_all(item.path(), error);
}

PathTest under(const std::string &prefix)
{
    return [prefix](const std::string &path) { return path.rfind(prefix, 0) == 0; };
}

TempDir::TempDir() : m_path(tempPrefix + std::to_string(::getpid()) + "-XXXXXX")
{
    if (!::mkdtemp(m_path.data()))
        throw std::runtime_error("mkdtemp failed");
}

TempDir::~TempDir()
{
    std::error_code ignored;
    fs::remove_all(m_path, ignored);
}

void writeFile(const std::string &path, const std::string &content)
{
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << content;
}

} // namespace standins::testing
