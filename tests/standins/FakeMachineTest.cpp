// diskutil against a made-up machine: a sysfs tree, device nodes that are plain image files, a
// udev database and a mount table, all in a temporary directory. No root needed.
#include "StandinHarness.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace standins;
using namespace standins::testing;
namespace fs = std::filesystem;

namespace {

constexpr std::int64_t MiB = 1024 * 1024;

bool haveTool(const std::string &name)
{
    return fs::exists("/usr/sbin/" + name) || fs::exists("/sbin/" + name);
}

class FakeMachineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!haveTool("mkntfs") || !haveTool("sfdisk") || !haveTool("mkfs.ext4"))
            GTEST_SKIP() << "mkntfs, sfdisk and mkfs.ext4 are needed to make the sample images";

        // Whole disks, created out of order; some of them must not be listed.
        device("loop10", 8 * MiB, "7:10");
        writeFile(dir / "sys/block/loop10/loop/backing_file", "/images/ten.img\n");
        device("loop2", 8 * MiB, "7:2");
        writeFile(dir / "sys/block/loop2/loop/backing_file", "/images/two.img\n");
        device("loop3", 8 * MiB, "7:3");   // nothing attached
        device("zram0", 8 * MiB, "252:0"); // swap in memory
        device("sdb", 0, "8:16");          // card reader without a card
        device("mmcblk0boot0", 4 * MiB, "179:8");
        device("nvme1n1", 8 * MiB, "259:9"); // hidden multipath path
        writeFile(dir / "sys/block/nvme1n1/hidden", "1\n");
        device("sda", 32 * MiB, "8:0");
        device("sda10", 1 * MiB, "8:10", "sda", 10);
        device("sda2", 2 * MiB, "8:2", "sda", 2);
        device("sda1", 3 * MiB, "8:1", "sda", 1);
        device("nvme0n1", 16 * MiB, "259:0");
        device("nvme0n1p1", 8 * MiB, "259:1", "nvme0n1", 1);
        device("mmcblk0", 16 * MiB, "179:0");

        // Device nodes: an NTFS file system straight on loop2, an MBR on sda, NTFS on sda2, ext4 on
        // sda1, GPT on nvme0n1, a blank on loop10. nvme0n1p1 and mmcblk0 have no node.
        const auto made = sh("cd '" + dir.path() + "' && mkdir -p dev && truncate -s 8M dev/loop2 dev/loop10"
                             " && truncate -s 32M dev/sda && truncate -s 3M dev/sda1 && truncate -s 2M dev/sda2"
                             " && truncate -s 16M dev/nvme0n1 && printf 'label: gpt\\n,4M,EBD0A0A2-B9E5-4433-87C0-68B6B72699C7\\n' | sfdisk -q dev/nvme0n1"
                             " && mkntfs -q -F -f -Q -L 'Fake Volume' dev/loop2"
                             " && mkntfs -q -F -f -Q dev/sda2 && mkfs.ext4 -q -F dev/sda1 && printf 'label: dos\\n,3M,7\\n,2M,7\\n' | sfdisk -q dev/sda");
        ASSERT_EQ(made.exitCode, 0) << made.standardError;
        // udev knows mmcblk0: an NTFS card whose label has a byte that is not UTF-8.
        writeFile(dir / "udev/b179:0", "S:disk/by-id/mmc-card\nE:ID_FS_TYPE=ntfs\nE:ID_FS_LABEL_ENC=Caf\\xc3\\xa9\\x20\\xff\n");
        writeFile(dir / "mountinfo", "27 1 254:0 / / rw,relatime - ext4 /dev/vda rw\n"
                                     "62 27 0:99 / /media/card rw,nosuid - fuseblk " + dir / "dev/mmcblk0" + " ro,allow_other\n");
    }

    // A block device in the fake sysfs; a partition when it has a parent disk and a number.
    void device(const std::string &name, std::int64_t bytes, const std::string &dev, const std::string &disk = "",
                int number = 0)
    {
        const std::string path = dir / ("sys/block/" + (disk.empty() ? name : disk + "/" + name));
        writeFile(path + "/size", std::to_string(bytes / 512) + "\n");
        writeFile(path + "/dev", dev + "\n");
        if (number)
            writeFile(path + "/partition", std::to_string(number) + "\n");
        fs::create_directories(dir / "sys/class/block");
        fs::create_directory_symlink(path, dir / ("sys/class/block/" + name));
    }

    ProgramResult diskutil(const std::vector<std::string> &args) const
    {
        return runStandin("diskutil", args,
                          {"QUORVEL_SYSFS_ROOT=" + dir / "sys", "QUORVEL_DEV_ROOT=" + dir / "dev",
                           "QUORVEL_MOUNTINFO=" + dir / "mountinfo", "QUORVEL_UDEV_DATA=" + dir / "udev"});
    }

    TempDir dir;
};

TEST_F(FakeMachineTest, ListShowsMatchingDisksInNaturalOrderWithTheirPartitions)
{
    const auto run = diskutil({"list", "-plist"});
    ASSERT_EQ(run.exitCode, 0) << run.standardError;
    // loop2: NTFS without a table; loop10: nothing recognisable; mmcblk0: no node to read, so
    // udev's record answers; nvme0n1: GPT, its partition is listed though it has no node; sda:
    // MBR, partitions by number (sda10 last), sizes from sysfs.
    EXPECT_EQ(plistItems(run.standardOutput, "AllDisksAndPartitions"),
              (std::vector<std::string>{
                  diskEntry("loop2", 8 * MiB, "Windows_NTFS"), diskEntry("loop10", 8 * MiB, ""),
                  diskEntry("mmcblk0", 16 * MiB, "Windows_NTFS"),
                  diskEntry("nvme0n1", 16 * MiB, "GUID_partition_scheme", {diskEntry("nvme0n1p1", 8 * MiB, "")}),
                  diskEntry("sda", 32 * MiB, "FDisk_partition_scheme",
                            {diskEntry("sda1", 3 * MiB, "ext4"), diskEntry("sda2", 2 * MiB, "Windows_NTFS"),
                             diskEntry("sda10", 1 * MiB, "")})}));
    // The unreadable partition is named on standard error; the listing still succeeds.
    EXPECT_NE(run.standardError.find("nvme0n1p1"), std::string::npos) << run.standardError;
}

TEST_F(FakeMachineTest, InfoFromUdevRepairsTheLabelAndFindsAFuseMountBySource)
{
    const auto run = diskutil({"info", "-plist", "mmcblk0"});
    ASSERT_EQ(run.exitCode, 0) << run.standardError;
    // Writable is false: the file system itself is read-only.
    EXPECT_EQ(plistText(run.standardOutput), "{DeviceIdentifier=mmcblk0, Size=16777216, VolumeName=Caf\xC3\xA9 \xEF\xBF\xBD, "
                                             "MountPoint=/media/card, Writable=false, FilesystemType=ntfs, Content=Windows_NTFS}");
}

TEST_F(FakeMachineTest, BadIdentifiersAndArgumentsFailWithOneMessage)
{
    for (const std::vector<std::string> &args : std::vector<std::vector<std::string>>{
             {"info", "-plist", "sdz9"},
             {"info", "-plist", "../block/sda"},
             {"info", "-plist", ""},
             {"info", "-plist", "nvme0n1p1"}, // known to the kernel, but unreadable
             {"unmount", "/dev/sdz9"},
             {"list"},
             {"info", "sda1"},
             {}}) {
        const auto run = diskutil(args);
        EXPECT_NE(run.exitCode, 0);
        EXPECT_EQ(run.standardOutput, "");
        EXPECT_EQ(run.standardError.rfind("diskutil: ", 0), 0u) << run.standardError;
        EXPECT_EQ(std::count(run.standardError.begin(), run.standardError.end(), '\n'), 1) << run.standardError;
    }
}

} // namespace
