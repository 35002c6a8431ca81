// The stand-ins against real block devices: sparse NTFS images on loop devices, mounted with
// ntfs-3g. Root only; every mount, loop device and file is removed afterwards, also when a step
// fails, and leftovers of an interrupted run are removed before the next one starts.
#include "StandinHarness.h"
#include "Text.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include <unistd.h>

using namespace standins;
using namespace standins::testing;
namespace fs = std::filesystem;

namespace {

constexpr std::int64_t MiB = 1024 * 1024;
const std::string ntfsType = "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7"; // Microsoft basic data

std::string quoted(const std::string &text)
{
    std::string out = "'";
    for (char c : text)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// A disk image attached to a loop device, with its partitions added.
struct Disk {
    std::string name; // "loopN"
    std::string part(int number) const { return name + "p" + std::to_string(number); }
};

// diskutil info's answer for an NTFS volume, or an ext4 one without a label, as plistText writes it.
std::string volume(const std::string &id, std::int64_t size, const std::optional<std::string> &label,
                   const std::string &mountPoint = "", bool writable = false)
{
    return "{DeviceIdentifier=" + id + ", Size=" + std::to_string(size) + (label ? ", VolumeName=" + *label : "")
           + (mountPoint.empty() ? "" : ", MountPoint=" + mountPoint) + ", Writable=" + (writable ? "true" : "false")
           + (label ? ", FilesystemType=ntfs, Content=Windows_NTFS}" : ", FilesystemType=ext4, Content=ext4}");
}

// Three disks: an MBR disk (NTFS "My Disk", NTFS "データ", ext4), a GPT disk (NTFS 'Say "Hi"',
// NTFS "My Disk" again) and an NTFS file system without a partition table ("Raw Volume").
class RealDeviceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const QString reason = testsupport::realDeviceSkipReason();
        if (!reason.isEmpty())
            GTEST_SKIP() << reason.toStdString();
        removeWhere(isLeftover); // of an interrupted earlier run, never of a running one
        m_dir = std::make_unique<TempDir>();
        const TempDir &dir = *m_dir;

        step("truncate -s 48M " + dir / "mbr.img" + " " + dir / "gpt.img" + " && truncate -s 16M " + dir / "raw.img");
        step("printf 'label: dos\\n,12M,7\\n,12M,7\\n,,83\\n' | sfdisk -q " + dir / "mbr.img");
        step("printf 'label: gpt\\n,12M," + ntfsType + "\\n,10M," + ntfsType + "\\n' | sfdisk -q " + dir / "gpt.img");
        step("mkntfs -q -F -f -Q -L 'Raw Volume' " + dir / "raw.img");
        mbr = {attachLoop(dir / "mbr.img", 3)};
        gpt = {attachLoop(dir / "gpt.img", 2)};
        raw = {attachLoop(dir / "raw.img")};
        step("mkntfs -q -f -Q -L 'My Disk' /dev/" + mbr.part(1));
        step("mkntfs -q -f -Q -L 'データ' /dev/" + mbr.part(2));
        step("mkfs.ext4 -q /dev/" + mbr.part(3));
        step("mkntfs -q -f -Q -L 'Say \"Hi\"' /dev/" + gpt.part(1));
        step("mkntfs -q -f -Q -L 'My Disk' /dev/" + gpt.part(2));
    }

    // Everything goes, also after a failed step; then nothing of it may be left.
    void TearDown() override
    {
        if (!m_dir)
            return;
        const std::string path = m_dir->path();
        const PathTest ours = under(path);
        removeWhere(ours);
        m_dir.reset();
        std::ifstream table("/proc/self/mounts");
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(table), {}).find(path), std::string::npos) << "still mounted";
        // A loop device still in use (by an ntfs-3g on its way out) goes when it is let go.
        for (int tries = 30; !loopsWhere(ours).empty() && --tries > 0;)
            ::usleep(100'000);
        EXPECT_TRUE(loopsWhere(ours).empty()) << "loop devices still attached to " << path;
        EXPECT_FALSE(fs::exists(path));
    }

    // A directory for mounts inside the test's temporary directory.
    std::string mountDir(const std::string &name)
    {
        fs::create_directories(*m_dir / name);
        return *m_dir / name;
    }

    static std::string info(const std::string &id)
    {
        const auto run = runStandin("diskutil", {"info", "-plist", id});
        EXPECT_EQ(run.exitCode, 0) << id << ": " << run.standardError;
        return plistText(run.standardOutput).value_or("not a property list: " + run.standardOutput);
    }
    static ProgramResult unmount(const std::string &id) { return runStandin("diskutil", {"unmount", "/dev/" + id}); }

    // The mount listing's line for `source`, or empty.
    static std::string mountLine(const std::string &source)
    {
        const auto run = runStandin("mount", {});
        EXPECT_EQ(run.exitCode, 0) << run.standardError;
        std::istringstream lines(run.standardOutput);
        for (std::string line; std::getline(lines, line);)
            if (line.rfind(source + " on ", 0) == 0)
                return line;
        return {};
    }

    std::unique_ptr<TempDir> m_dir;
    Disk mbr, gpt, raw;
};

TEST_F(RealDeviceTest, ListShowsEachTestDiskWithItsPartitionsSizesAndContentInOrder)
{
    const auto run = runStandin("diskutil", {"list", "-plist"});
    ASSERT_EQ(run.exitCode, 0) << run.standardError;
    const std::vector<std::string> disks = plistItems(run.standardOutput, "AllDisksAndPartitions");
    std::vector<std::string> names;
    for (const std::string &disk : disks)
        names.push_back(disk.substr(0, disk.find(',')).substr(std::string("{DeviceIdentifier=").size()));
    EXPECT_TRUE(std::is_sorted(names.begin(), names.end(), [](const auto &a, const auto &b) { return naturalLess(a, b); }))
        << run.standardOutput;

    const auto ntfs = [](const std::string &id, std::int64_t size) { return diskEntry(id, size, "Windows_NTFS"); };
    // sfdisk starts the first partition at 1 MiB; the last MBR partition takes the rest.
    for (const std::string &expected :
         {diskEntry(mbr.name, 48 * MiB, "FDisk_partition_scheme",
                    {ntfs(mbr.part(1), 12 * MiB), ntfs(mbr.part(2), 12 * MiB), diskEntry(mbr.part(3), 23 * MiB, "ext4")}),
          diskEntry(gpt.name, 48 * MiB, "GUID_partition_scheme", {ntfs(gpt.part(1), 12 * MiB), ntfs(gpt.part(2), 10 * MiB)}),
          ntfs(raw.name, 16 * MiB)})
        EXPECT_NE(std::find(disks.begin(), disks.end(), expected), disks.end()) << expected << "\n" << run.standardOutput;
}

TEST_F(RealDeviceTest, InfoReadsEveryKindOfLabel)
{
    struct Volume {
        std::string id;
        std::int64_t size;
        std::optional<std::string> label;
    };
    for (const Volume &v : {Volume{mbr.part(1), 12 * MiB, "My Disk"}, Volume{mbr.part(2), 12 * MiB, "データ"},
                            Volume{mbr.part(3), 23 * MiB, std::nullopt}, Volume{gpt.part(1), 12 * MiB, "Say \"Hi\""},
                            Volume{gpt.part(2), 10 * MiB, "My Disk"}, Volume{raw.name, 16 * MiB, "Raw Volume"}})
        EXPECT_EQ(info(v.id), volume(v.id, v.size, v.label));
    EXPECT_EQ(info("/dev/" + gpt.part(1)), info(gpt.part(1))); // the same device
}

TEST_F(RealDeviceTest, InfoListingAndUnmountFollowNtfs3gMountsReadWriteAndReadOnly)
{
    const std::string id = mbr.part(1), dir = mountDir("My Disk"), bound = mountDir("bound");
    const std::regex shape("/dev/" + id + " on " + dir + R"( \(fuseblk(, [a-z-]+)*\))");
    for (const bool writable : {true, false}) {
        SCOPED_TRACE(writable ? "read-write" : "read-only");
        step("ntfs-3g " + std::string(writable ? "" : "-o ro ") + "/dev/" + id + " " + quoted(dir));
        EXPECT_EQ(info(id), volume(id, 12 * MiB, "My Disk", dir, writable));
        const std::string line = mountLine("/dev/" + id);
        EXPECT_TRUE(std::regex_match(line, shape)) << line;
        EXPECT_EQ(line.find(", read-only") != std::string::npos, !writable) << line;

        // Bound elsewhere too: info keeps to the first mount, and unmount takes both.
        step("mount --bind " + quoted(dir) + " " + bound);
        EXPECT_EQ(info(id), volume(id, 12 * MiB, "My Disk", dir, writable));
        const auto run = unmount(id);
        EXPECT_EQ(run.exitCode, 0) << run.standardError;
        EXPECT_EQ(run.standardOutput, "Volume My Disk on " + id + " unmounted\n");
        EXPECT_EQ(run.standardError, "");
        EXPECT_EQ(info(id), volume(id, 12 * MiB, "My Disk"));
        EXPECT_EQ(mountLine("/dev/" + id), "");
        EXPECT_TRUE(fs::is_directory(dir) && fs::is_directory(bound)) << "directories outside the mount root are left alone";
    }
    // Unmounting what is no longer mounted succeeds and says so.
    const auto again = unmount(id);
    EXPECT_EQ(again.exitCode, 0) << again.standardError;
    EXPECT_EQ(again.standardOutput, "Volume My Disk on " + id + " was not mounted\n");
    EXPECT_EQ(again.standardError, "");
}

TEST_F(RealDeviceTest, BusyVolumeStaysMountedAndSaysWhyOnOneLine)
{
    // The test's directory stands in for the mount root: a mount directory there goes with the
    // unmount, but only once the unmount has happened.
    const std::vector<std::string> mountRoot{"QUORVEL_MOUNT_ROOT=" + m_dir->path() + "/"};
    const std::string id = gpt.part(1), dir = mountDir("Say \"Hi\"");
    step("ntfs-3g /dev/" + id + " " + quoted(dir));
    std::ofstream held(dir + "/held.txt");
    ASSERT_TRUE(held.is_open());

    const auto busy = runStandin("diskutil", {"unmount", "/dev/" + id}, mountRoot);
    EXPECT_EQ(busy.exitCode, 1);
    EXPECT_EQ(busy.standardOutput, "");
    EXPECT_EQ(busy.standardError, "diskutil: Volume Say \"Hi\" on " + id + " failed to unmount from " + dir + ": target is busy\n");
    EXPECT_EQ(info(id), volume(id, 12 * MiB, "Say \"Hi\"", dir, true)) << "a busy volume must not be detached";

    held.close();
    const auto freed = runStandin("diskutil", {"unmount", "/dev/" + id}, mountRoot);
    EXPECT_EQ(freed.exitCode, 0) << freed.standardError;
    EXPECT_EQ(freed.standardOutput, "Volume Say \"Hi\" on " + id + " unmounted\n");
    EXPECT_FALSE(fs::exists(dir)) << "the emptied mount directory under the mount root stays behind";
}

} // namespace
