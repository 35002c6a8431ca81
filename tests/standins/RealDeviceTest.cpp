// The stand-ins against real block devices: sparse NTFS images on loop devices, mounted with
// ntfs-3g and the kernel. Root only; every mount, loop device and file is removed afterwards, and
// leftovers of an interrupted run are removed before the next one starts.
#include "BlockDevices.h"
#include "MountInfo.h"
#include "StandinHarness.h"
#include "Text.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>

#include <fcntl.h>
#include <sys/mount.h>
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

// Runs a set-up step and fails the test, with the step's messages, when it does not work.
#define STEP(line)                                                                                \
    do {                                                                                          \
        const auto step_ = sh(line);                                                              \
        ASSERT_EQ(step_.exitCode, 0) << (line) << "\n" << step_.standardOutput << step_.standardError; \
    } while (false)

// Unmounts everything mounted at or below `prefix`, innermost first; lazily when it is busy, so
// that clean-up never stops half-way.
void unmountUnder(const std::string &prefix)
{
    const auto mounts = readMountInfo("/proc/self/mountinfo");
    if (!mounts)
        return;
    for (auto it = mounts->rbegin(); it != mounts->rend(); ++it)
        if (it->mountPoint.rfind(prefix, 0) == 0 && ::umount2(it->mountPoint.c_str(), 0) != 0)
            ::umount2(it->mountPoint.c_str(), MNT_DETACH);
}

void detachLoop(const std::string &node)
{
    sh("partx -d " + node + " 2>/dev/null; losetup -d " + node);
}

// What an interrupted earlier run left behind: mounts, loop devices and directories.
void removeLeftovers()
{
    const std::string prefix = std::string("/tmp/") + tempPrefix;
    unmountUnder(prefix);
    std::error_code error;
    for (const auto &item : fs::directory_iterator("/sys/block", error)) {
        const std::string name = item.path().filename().string();
        std::ifstream backing(item.path() / "loop" / "backing_file");
        std::string file;
        if (name.rfind("loop", 0) == 0 && std::getline(backing, file) && file.rfind(prefix, 0) == 0)
            detachLoop("/dev/" + name);
    }
    for (const auto &item : fs::directory_iterator("/tmp", error))
        if (item.path().filename().string().rfind(tempPrefix, 0) == 0)
            fs::remove_all(item.path(), error);
}

// An image attached to a loop device with its partitions added; detached again on destruction.
class LoopDevice {
public:
    explicit LoopDevice(const std::string &image)
    {
        const auto attach = sh("losetup -P --show -f " + quoted(image));
        m_node = std::string(trimmed(attach.standardOutput));
        if (attach.exitCode != 0 || m_node.empty())
            throw std::runtime_error("losetup failed: " + attach.standardError);
        // The kernel here does not scan a loop device's table by itself. partx fails when there is
        // no table, which is fine.
        sh("partx -a " + m_node + " 2>/dev/null");
    }
    ~LoopDevice() { detachLoop(m_node); }
    LoopDevice(const LoopDevice &) = delete;
    LoopDevice &operator=(const LoopDevice &) = delete;

    std::string name() const { return m_node.substr(5); }
    std::string part(int number) const { return name() + "p" + std::to_string(number); }

private:
    std::string m_node;
};

// An open file that keeps a volume busy.
class OpenFile {
public:
    explicit OpenFile(const std::string &path) : m_fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644)) {}
    ~OpenFile() { release(); }
    bool isOpen() const { return m_fd >= 0; }
    void release()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

private:
    int m_fd;
};

// Three disks: an MBR disk (NTFS "My Disk", NTFS "データ", ext4), a GPT disk (NTFS 'Say "Hi"',
// NTFS "My Disk" again) and an NTFS file system without a partition table ("Raw Volume").
class RealDeviceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const QString reason = testsupport::realDeviceSkipReason();
        if (!reason.isEmpty())
            GTEST_SKIP() << reason.toStdString();
        removeLeftovers();
        m_dir = std::make_unique<TempDir>();
        const TempDir &dir = *m_dir;

        STEP("truncate -s 48M " + dir / "mbr.img" + " " + dir / "gpt.img" + " && truncate -s 16M " + dir / "raw.img");
        STEP("printf 'label: dos\\n,12M,7\\n,12M,7\\n,,83\\n' | sfdisk -q " + dir / "mbr.img");
        STEP("printf 'label: gpt\\n,12M," + ntfsType + "\\n,10M," + ntfsType + "\\n' | sfdisk -q " + dir / "gpt.img");
        STEP("mkntfs -q -F -f -Q -L 'Raw Volume' " + dir / "raw.img");
        mbr = std::make_unique<LoopDevice>(dir / "mbr.img");
        gpt = std::make_unique<LoopDevice>(dir / "gpt.img");
        raw = std::make_unique<LoopDevice>(dir / "raw.img");
        STEP("mkntfs -q -f -Q -L 'My Disk' /dev/" + mbr->part(1));
        STEP("mkntfs -q -f -Q -L 'データ' /dev/" + mbr->part(2));
        STEP("mkfs.ext4 -q /dev/" + mbr->part(3));
        STEP("mkntfs -q -f -Q -L 'Say \"Hi\"' /dev/" + gpt->part(1));
        STEP("mkntfs -q -f -Q -L 'My Disk' /dev/" + gpt->part(2));
    }

    void TearDown() override
    {
        if (m_dir)
            unmountUnder(m_dir->path());
        raw.reset();
        gpt.reset();
        mbr.reset();
        m_dir.reset();
    }

    // A directory for mounts inside the test's temporary directory.
    std::string mountDir(const std::string &name)
    {
        const std::string path = *m_dir / name;
        fs::create_directories(path);
        return path;
    }

    static std::optional<Plist> info(const std::string &id)
    {
        const auto run = runStandin("diskutil", {"info", "-plist", id});
        EXPECT_EQ(run.exitCode, 0) << id << ": " << run.standardError;
        return Plist::parse(run.standardOutput);
    }

    // The mount listing's line for `source`, or empty.
    static std::string mountLine(const std::string &source)
    {
        const auto run = runStandin("mount", {});
        EXPECT_EQ(run.exitCode, 0) << run.standardError;
        for (const auto &line : lines(run.standardOutput))
            if (line.rfind(source + " on ", 0) == 0)
                return line;
        return {};
    }

    std::unique_ptr<TempDir> m_dir;
    std::unique_ptr<LoopDevice> mbr, gpt, raw;
};

TEST_F(RealDeviceTest, ListShowsEachTestDiskWithItsPartitionsInOrder)
{
    const auto run = runStandin("diskutil", {"list", "-plist"});
    ASSERT_EQ(run.exitCode, 0) << run.standardError;
    const auto plist = Plist::parse(run.standardOutput);
    ASSERT_TRUE(plist) << run.standardOutput;
    const auto disks = Plist::array(plist->root(), "AllDisksAndPartitions");
    ASSERT_TRUE(disks);

    std::vector<std::string> names;
    std::map<std::string, plist_t> byName;
    for (plist_t disk : *disks) {
        names.push_back(Plist::string(disk, "DeviceIdentifier").value_or(""));
        byName[names.back()] = disk;
    }
    EXPECT_TRUE(std::is_sorted(names.begin(), names.end(), [](const auto &a, const auto &b) { return naturalLess(a, b); }))
        << run.standardOutput;
    ASSERT_TRUE(byName.count(mbr->name()) && byName.count(gpt->name()) && byName.count(raw->name())) << run.standardOutput;

    struct Expected {
        std::string id;
        std::int64_t size;
        std::string content;
    };
    auto check = [](plist_t disk, const Expected &whole, const std::vector<Expected> &parts) {
        EXPECT_EQ(Plist::integer(disk, "Size"), whole.size) << whole.id;
        EXPECT_EQ(Plist::string(disk, "Content"), whole.content) << whole.id;
        const auto partitions = Plist::array(disk, "Partitions");
        if (parts.empty()) {
            EXPECT_EQ(Plist::keys(disk), (std::vector<std::string>{"DeviceIdentifier", "Size", "Content"}));
            return;
        }
        ASSERT_TRUE(partitions && partitions->size() == parts.size()) << whole.id;
        for (std::size_t i = 0; i < parts.size(); ++i) {
            EXPECT_EQ(Plist::string((*partitions)[i], "DeviceIdentifier"), parts[i].id);
            EXPECT_EQ(Plist::integer((*partitions)[i], "Size"), parts[i].size) << parts[i].id;
            EXPECT_EQ(Plist::string((*partitions)[i], "Content"), parts[i].content) << parts[i].id;
        }
    };
    // sfdisk starts the first partition at 1 MiB; the last MBR partition takes the rest.
    check(byName[mbr->name()], {mbr->name(), 48 * MiB, "FDisk_partition_scheme"},
          {{mbr->part(1), 12 * MiB, "Windows_NTFS"}, {mbr->part(2), 12 * MiB, "Windows_NTFS"},
           {mbr->part(3), 23 * MiB, "ext4"}});
    check(byName[gpt->name()], {gpt->name(), 48 * MiB, "GUID_partition_scheme"},
          {{gpt->part(1), 12 * MiB, "Windows_NTFS"}, {gpt->part(2), 10 * MiB, "Windows_NTFS"}});
    check(byName[raw->name()], {raw->name(), 16 * MiB, "Windows_NTFS"}, {});
}

TEST_F(RealDeviceTest, InfoReadsEveryKindOfLabel)
{
    const std::vector<std::pair<std::string, std::optional<std::string>>> volumes = {
        {mbr->part(1), "My Disk"}, {mbr->part(2), "データ"}, {mbr->part(3), std::nullopt},
        {gpt->part(1), "Say \"Hi\""}, {gpt->part(2), "My Disk"}, {raw->name(), "Raw Volume"}};
    for (const auto &[id, label] : volumes) {
        const auto plist = info(id);
        ASSERT_TRUE(plist) << id;
        const plist_t root = plist->root();
        EXPECT_EQ(Plist::string(root, "DeviceIdentifier"), id);
        EXPECT_EQ(Plist::string(root, "VolumeName"), label) << id;
        EXPECT_EQ(Plist::string(root, "FilesystemType"), label ? "ntfs" : "ext4") << id;
        EXPECT_EQ(Plist::string(root, "Content"), label ? "Windows_NTFS" : "ext4") << id;
        EXPECT_FALSE(Plist::string(root, "MountPoint")) << id;
        EXPECT_EQ(Plist::boolean(root, "Writable"), false) << id;
    }
    // "/dev/ID" names the same device.
    EXPECT_EQ(runStandin("diskutil", {"info", "-plist", "/dev/" + gpt->part(1)}).standardOutput,
              runStandin("diskutil", {"info", "-plist", gpt->part(1)}).standardOutput);
}

TEST_F(RealDeviceTest, InfoAndListingFollowNtfs3gMountsReadWriteAndReadOnly)
{
    const std::string id = mbr->part(1);
    const std::string dir = mountDir("My Disk");
    const std::regex shape("/dev/" + id + " on " + dir + R"( \(fuseblk(, [a-z-]+)*\))");

    STEP("ntfs-3g /dev/" + id + " " + quoted(dir));
    auto plist = info(id);
    ASSERT_TRUE(plist);
    EXPECT_EQ(Plist::string(plist->root(), "MountPoint"), dir);
    EXPECT_EQ(Plist::boolean(plist->root(), "Writable"), true);
    std::string line = mountLine("/dev/" + id);
    EXPECT_TRUE(std::regex_match(line, shape)) << line;
    EXPECT_EQ(line.find("read-only"), std::string::npos) << line;

    auto unmounted = runStandin("diskutil", {"unmount", "/dev/" + id});
    EXPECT_EQ(unmounted.exitCode, 0) << unmounted.standardError;
    EXPECT_EQ(unmounted.standardOutput, "Volume My Disk on " + id + " unmounted\n");
    EXPECT_EQ(unmounted.standardError, "");
    plist = info(id);
    ASSERT_TRUE(plist);
    EXPECT_FALSE(Plist::string(plist->root(), "MountPoint"));
    EXPECT_EQ(mountLine("/dev/" + id), "");

    STEP("ntfs-3g -o ro /dev/" + id + " " + quoted(dir));
    plist = info(id);
    ASSERT_TRUE(plist);
    EXPECT_EQ(Plist::string(plist->root(), "MountPoint"), dir);
    EXPECT_EQ(Plist::boolean(plist->root(), "Writable"), false);
    line = mountLine("/dev/" + id);
    EXPECT_TRUE(std::regex_match(line, shape)) << line;
    EXPECT_NE(line.find(", read-only"), std::string::npos) << line;
    EXPECT_EQ(runStandin("diskutil", {"unmount", "/dev/" + id}).exitCode, 0);

    // The same for a file system straight on the disk, with a non-ASCII mount directory.
    const std::string rawDir = mountDir("ボリューム");
    STEP("ntfs-3g /dev/" + raw->name() + " " + quoted(rawDir));
    plist = info(raw->name());
    ASSERT_TRUE(plist);
    EXPECT_EQ(Plist::string(plist->root(), "MountPoint"), rawDir);
    EXPECT_EQ(runStandin("diskutil", {"unmount", "/dev/" + raw->name()}).standardOutput,
              "Volume Raw Volume on " + raw->name() + " unmounted\n");
}

TEST_F(RealDeviceTest, KernelMountsReportTheFirstMountAndAllOfThemAreUnmounted)
{
    const std::string id = mbr->part(3);
    const std::string first = mountDir("first"), second = mountDir("second");
    STEP("mount -o ro /dev/" + id + " " + first);
    auto plist = info(id);
    ASSERT_TRUE(plist);
    EXPECT_EQ(Plist::string(plist->root(), "MountPoint"), first);
    EXPECT_EQ(Plist::boolean(plist->root(), "Writable"), false);
    EXPECT_EQ(mountLine("/dev/" + id).rfind("/dev/" + id + " on " + first + " (ext4, read-only", 0), 0u);

    // A second mount of the same device and a bind mount of the first: three mounts in all.
    STEP("mount -o remount,rw " + first + " && mount /dev/" + id + " " + second + " && mkdir -p " + first
         + "/sub && mount --bind " + first + " " + first + "/sub");
    plist = info(id);
    ASSERT_TRUE(plist);
    EXPECT_EQ(Plist::string(plist->root(), "MountPoint"), first);
    EXPECT_EQ(Plist::boolean(plist->root(), "Writable"), true);

    const auto run = runStandin("diskutil", {"unmount", id});
    EXPECT_EQ(run.exitCode, 0) << run.standardError;
    EXPECT_EQ(run.standardOutput, "Volume first on " + id + " unmounted\n")
        << "a volume without a label is named after the directory it was mounted on";
    const auto mounts = readMountInfo("/proc/self/mountinfo");
    ASSERT_TRUE(mounts);
    EXPECT_EQ(std::count_if(mounts->begin(), mounts->end(), [&](const MountEntry &e) { return e.source == "/dev/" + id; }), 0);
}

TEST_F(RealDeviceTest, BusyVolumeStaysMountedAndSaysWhy)
{
    const std::string id = gpt->part(1);
    const std::string dir = mountDir("Say \"Hi\"");
    STEP("ntfs-3g /dev/" + id + " " + quoted(dir));
    OpenFile held(dir + "/held.txt");
    ASSERT_TRUE(held.isOpen());

    const auto busy = runStandin("diskutil", {"unmount", "/dev/" + id});
    EXPECT_NE(busy.exitCode, 0);
    EXPECT_EQ(busy.standardOutput, "");
    ASSERT_EQ(lines(busy.standardError).size(), 1u) << busy.standardError;
    EXPECT_NE(busy.standardError.find(id), std::string::npos) << busy.standardError;
    EXPECT_NE(busy.standardError.find("target is busy"), std::string::npos) << busy.standardError;
    const auto plist = info(id);
    ASSERT_TRUE(plist);
    EXPECT_EQ(Plist::string(plist->root(), "MountPoint"), dir) << "a busy volume must not be detached";

    held.release();
    const auto freed = runStandin("diskutil", {"unmount", "/dev/" + id});
    EXPECT_EQ(freed.exitCode, 0) << freed.standardError;
    EXPECT_EQ(freed.standardOutput, "Volume Say \"Hi\" on " + id + " unmounted\n");
}

TEST_F(RealDeviceTest, UnmountOfAVolumeThatIsNotMountedSucceeds)
{
    const auto run = runStandin("diskutil", {"unmount", "/dev/" + gpt->part(2)});
    EXPECT_EQ(run.exitCode, 0) << run.standardError;
    EXPECT_EQ(lines(run.standardOutput).size(), 1u);
    EXPECT_NE(run.standardOutput.find(gpt->part(2)), std::string::npos);
    EXPECT_EQ(run.standardError, "");
}

} // namespace
