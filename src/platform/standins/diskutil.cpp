// Linux stand-in for macOS's diskutil: answers `list -plist`, `info -plist ID` and
// `unmount /dev/ID` with the same property-list keys and exit behaviour, from sysfs, libblkid and
// the mount table.
#include "BlockDevices.h"
#include "MountInfo.h"
#include "Process.h"
#include "PropertyListWriter.h"
#include "SignatureProbe.h"
#include "Text.h"
#include "platform/Elevation.h"
#include "platform/LinuxTools.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <set>
#include <string>
#include <vector>

#include <sys/mount.h>
#include <unistd.h>

using namespace standins;

namespace {

int fail(const std::string &message)
{
    std::cerr << "diskutil: " << repairUtf8(message) << '\n';
    return 1;
}

int usage()
{
    return fail("usage: diskutil list -plist | diskutil info -plist DEVICE | diskutil unmount DEVICE");
}

int listCommand(const SystemPaths &paths)
{
    // Every disk followed by its partitions, probed together.
    const std::vector<BlockDevice> disks = listWholeDisks(paths);
    std::vector<std::vector<BlockDevice>> partitionsOf;
    std::vector<BlockDevice> devices;
    for (const BlockDevice &disk : disks) {
        partitionsOf.push_back(listPartitions(paths, disk));
        devices.push_back(disk);
        devices.insert(devices.end(), partitionsOf.back().begin(), partitionsOf.back().end());
    }
    const std::vector<ProbeResult> probes = probeBlockDevices(paths, devices);
    for (const ProbeResult &probe : probes)
        if (!probe.ok)
            std::cerr << "diskutil: " << repairUtf8(probe.error) << '\n';

    PropertyListWriter plist;
    plist.beginDict();
    plist.key("AllDisksAndPartitions");
    plist.beginArray();
    auto probe = probes.begin();
    for (std::size_t d = 0; d < disks.size(); ++d) {
        const BlockDevice &disk = disks[d];
        const ProbeResult &diskProbe = *probe++;
        const std::vector<BlockDevice> &partitions = partitionsOf[d];
        plist.beginDict();
        plist.stringEntry("DeviceIdentifier", disk.name);
        plist.integerEntry("Size", disk.size);
        plist.stringEntry("Content", contentOf(diskProbe));
        if (!diskProbe.tableType.empty() || !partitions.empty()) {
            plist.key("Partitions");
            plist.beginArray();
            for (const BlockDevice &partition : partitions) {
                plist.beginDict();
                plist.stringEntry("DeviceIdentifier", partition.name);
                plist.integerEntry("Size", partition.size);
                plist.stringEntry("Content", contentOf(*probe++));
                plist.endDict();
            }
            plist.endArray();
        }
        plist.endDict();
    }
    plist.endArray();
    plist.endDict();
    std::cout << plist.finish();
    return 0;
}

int infoCommand(const SystemPaths &paths, const std::string &id)
{
    const auto device = findBlockDevice(paths, id);
    if (!device)
        return fail("Could not find disk: " + id);
    const ProbeResult probe = probeBlockDevice(paths, *device);
    if (!probe.ok)
        return fail(probe.error);
    const auto mounts = readMountInfo(paths.mountInfo);
    if (!mounts)
        return fail("cannot read the mount table " + paths.mountInfo + ": " + std::strerror(errno));
    const MountEntry *mount = nullptr;
    for (const MountEntry &entry : *mounts) {
        if (mountsDevice(entry, *device, paths)) {
            mount = &entry;
            break;
        }
    }

    PropertyListWriter plist;
    plist.beginDict();
    plist.stringEntry("DeviceIdentifier", device->name);
    plist.integerEntry("Size", device->size);
    if (probe.label)
        plist.stringEntry("VolumeName", *probe.label);
    if (mount)
        plist.stringEntry("MountPoint", mount->mountPoint);
    plist.booleanEntry("Writable", mount && !mount->isReadOnly());
    if (!probe.fsType.empty())
        plist.stringEntry("FilesystemType", probe.fsType);
    plist.stringEntry("Content", contentOf(probe));
    plist.endDict();
    std::cout << plist.finish();
    return 0;
}

std::string describeError(int error)
{
    switch (error) {
    case EBUSY: return "target is busy";
    case EINVAL: return "not a mount point";
    default: return std::strerror(error);
    }
}

std::string lastLine(const std::string &output)
{
    std::string_view text = trimmed(output);
    const auto newline = text.find_last_of('\n');
    return std::string(trimmed(newline == std::string_view::npos ? text : text.substr(newline + 1)));
}

// fusermount3 and fusermount, each once even where /bin is a link to /usr/bin.
std::vector<std::string> fusermountPrograms()
{
    std::vector<std::string> programs;
    std::set<std::string> seen;
    for (const char *candidate : linuxtools::fusermount) {
        std::error_code error;
        const auto real = std::filesystem::canonical(candidate, error);
        if (!error && ::access(candidate, X_OK) == 0 && seen.insert(real.string()).second)
            programs.emplace_back(candidate);
    }
    return programs;
}

// Whether `directory` is one the application made for a mount: a direct child of the mount root.
bool isMountRootChild(const SystemPaths &paths, const std::string &directory)
{
    std::string root = paths.mountRoot;
    while (root.size() > 1 && root.back() == '/')
        root.pop_back();
    const std::filesystem::path path(directory);
    return path.parent_path() == std::filesystem::path(root) && !path.filename().empty() && path.filename() != "."
        && path.filename() != "..";
}

// Unmounts one mount; the reason when it stays mounted. Never detaches lazily: a busy volume
// must stay busy rather than vanish from view with its data still unwritten. With
// `removeDirectory` the emptied mount directory goes too, as the system disk utility removes
// its own mount points; rmdir takes only an empty directory, and one that stays is no failure.
std::optional<std::string> unmountOne(const MountEntry &entry, bool removeDirectory)
{
    if (::umount2(entry.mountPoint.c_str(), 0) == 0) {
        if (removeDirectory)
            ::rmdir(entry.mountPoint.c_str());
        return std::nullopt;
    }
    const int error = errno;
    if ((error != EPERM && error != EACCES) || elevation::haveRights())
        return describeError(error);

    // An ordinary user: FUSE mounts of their own go through fusermount, anything else through
    // an administrator prompt.
    if (isFuseType(entry.fsType)) {
        for (const std::string &program : fusermountPrograms())
            if (runProgram({program, "-u", entry.mountPoint}).exitCode == 0)
                return std::nullopt;
    }
    // One prompt for both the unmount and the directory: it belongs to the administrator as well.
    using Command = std::vector<std::string>;
    const Command command = removeDirectory
        ? Command{linuxtools::shell, "-c",
                  std::string(linuxtools::umount) + " -- \"$1\" && { " + linuxtools::rmdir
                      + " -- \"$1\" 2>/dev/null; true; }",
                  "sh", entry.mountPoint}
        : Command{linuxtools::umount, entry.mountPoint};
    const ProgramResult elevated = runProgram(elevation::throughPkexec(std::string(linuxtools::pkexec), command));
    switch (elevation::outcomeOf(elevated.exitCode, elevated.standardError)) {
    case elevation::Outcome::Succeeded:
        return std::nullopt;
    case elevation::Outcome::Dismissed:
        return std::string("the administrator authentication was dismissed");
    case elevation::Outcome::NotStarted:
        return describeError(error);
    case elevation::Outcome::NoAgent:
    case elevation::Outcome::Failed:
        break;
    }
    const std::string detail = lastLine(elevated.standardError.empty() ? elevated.standardOutput : elevated.standardError);
    return detail.empty() ? "pkexec " + std::string(linuxtools::umount) + " failed with exit status "
                                + std::to_string(elevated.exitCode)
                          : detail;
}

int unmountCommand(const SystemPaths &paths, const std::string &argument)
{
    const std::string id(withoutDevPrefix(argument));
    const auto device = findBlockDevice(paths, id);
    const std::string node = paths.dev + "/" + id;
    // A device that has gone away (a pulled USB stick) can leave mounts behind: those still name
    // its node as their source.
    auto concerns = [&](const MountEntry &entry) {
        return device ? mountsDevice(entry, *device, paths) : entry.source == node;
    };
    auto readMounts = [&]() -> std::optional<std::vector<MountEntry>> {
        auto all = readMountInfo(paths.mountInfo);
        if (!all)
            return std::nullopt;
        std::erase_if(*all, [&](const MountEntry &entry) { return !concerns(entry); });
        return all;
    };

    auto mounts = readMounts();
    if (!mounts)
        return fail("cannot read the mount table " + paths.mountInfo + ": " + std::strerror(errno));
    if (!device && mounts->empty())
        return fail("Could not find disk: " + argument);

    // The label when the device can be read, else the name of the directory it is mounted on.
    std::string volume = id;
    const ProbeResult probe = device ? probeBlockDevice(paths, *device) : ProbeResult();
    if (probe.label)
        volume = *probe.label;
    else if (!mounts->empty())
        volume = std::filesystem::path(mounts->front().mountPoint).filename().string();
    if (mounts->empty()) {
        std::cout << repairUtf8("Volume " + volume + " on " + id + " was not mounted") << '\n';
        return 0;
    }

    std::set<int> attempted;
    while (mounts && !mounts->empty()) {
        const MountEntry &target = mounts->back(); // the most recent mount, innermost first
        if (!attempted.insert(target.id).second)
            return fail("Volume " + volume + " on " + id + " is still mounted on " + target.mountPoint
                        + " after unmounting it");
        if (const auto reason = unmountOne(target, isMountRootChild(paths, target.mountPoint)))
            return fail("Volume " + volume + " on " + id + " failed to unmount from " + target.mountPoint
                        + ": " + *reason);
        mounts = readMounts();
    }
    if (!mounts)
        return fail("cannot read the mount table " + paths.mountInfo + ": " + std::strerror(errno));
    std::cout << repairUtf8("Volume " + volume + " on " + id + " unmounted") << '\n';
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    const SystemPaths paths = systemPaths();
    if (args.size() == 2 && args[0] == "list" && args[1] == "-plist")
        return listCommand(paths);
    if (args.size() == 3 && args[0] == "info" && args[1] == "-plist")
        return infoCommand(paths, args[2]);
    if (args.size() == 2 && args[0] == "unmount")
        return unmountCommand(paths, args[1]);
    return usage();
}
