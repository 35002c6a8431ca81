// diskutil and mount against a made-up machine: a sysfs tree, device nodes that are plain image
// files, a udev database and a mount table, all in a temporary directory. No root needed.
#include "StandinHarness.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <tuple>

using namespace standins;
using namespace standins::testing;
namespace fs = std::filesystem;

namespace {

const std::string fffd = "\xEF\xBF\xBD";
constexpr std::int64_t MiB = 1024 * 1024;

class FakeMachine {
public:
    std::vector<std::string> environment() const
    {
        return {"QUORVEL_SYSFS_ROOT=" + m_dir / "sys", "QUORVEL_DEV_ROOT=" + m_dir / "dev",
                "QUORVEL_MOUNTINFO=" + m_dir / "mountinfo", "QUORVEL_UDEV_DATA=" + m_dir / "udev"};
    }
    std::string node(const std::string &name) const { return m_dir / ("dev/" + name); }

    void disk(const std::string &name, std::int64_t bytes, const std::string &dev)
    {
        device("sys/block/" + name, name, bytes, dev);
    }
    void partition(const std::string &disk, const std::string &name, int number, std::int64_t bytes,
                   const std::string &dev)
    {
        device("sys/block/" + disk + "/" + name, name, bytes, dev);
        writeFile(m_dir / ("sys/block/" + disk + "/" + name + "/partition"), std::to_string(number) + "\n");
    }
    void attribute(const std::string &relative, const std::string &value) { writeFile(m_dir / relative, value + "\n"); }
    void file(const std::string &relative, const std::string &content) { writeFile(m_dir / relative, content); }
    ProgramResult shell(const std::string &line) const { return sh("cd '" + m_dir.path() + "' && " + line); }

    ProgramResult diskutil(const std::vector<std::string> &args) const { return runStandin("diskutil", args, environment()); }

private:
    void device(const std::string &relative, const std::string &name, std::int64_t bytes, const std::string &dev)
    {
        attribute(relative + "/size", std::to_string(bytes / 512));
        attribute(relative + "/dev", dev);
        fs::create_directories(m_dir / "sys/class/block");
        fs::create_directory_symlink(m_dir / relative, m_dir / ("sys/class/block/" + name));
    }

    TempDir m_dir;
};

bool haveTool(const char *name)
{
    return fs::exists(std::string("/usr/sbin/") + name) || fs::exists(std::string("/sbin/") + name);
}

class FakeMachineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!haveTool("mkntfs") || !haveTool("sfdisk"))
            GTEST_SKIP() << "mkntfs and sfdisk are needed to make the sample images";

        // Whole disks, created out of order; some of them must not be listed.
        m.disk("loop10", 8 * MiB, "7:10");
        m.attribute("sys/block/loop10/loop/backing_file", "/images/ten.img");
        m.disk("loop2", 8 * MiB, "7:2");
        m.attribute("sys/block/loop2/loop/backing_file", "/images/two.img");
        m.disk("loop3", 8 * MiB, "7:3");       // nothing attached
        m.disk("zram0", 8 * MiB, "252:0");     // swap in memory
        m.disk("sdb", 0, "8:16");              // card reader without a card
        m.disk("mmcblk0boot0", 4 * MiB, "179:8");
        m.disk("nvme1n1", 8 * MiB, "259:9");   // hidden multipath path
        m.attribute("sys/block/nvme1n1/hidden", "1");
        m.disk("sda", 32 * MiB, "8:0");
        m.partition("sda", "sda10", 10, 1 * MiB, "8:10");
        m.partition("sda", "sda2", 2, 2 * MiB, "8:2");
        m.partition("sda", "sda1", 1, 3 * MiB, "8:1");
        m.disk("nvme0n1", 16 * MiB, "259:0");
        m.partition("nvme0n1", "nvme0n1p1", 1, 8 * MiB, "259:1");
        m.disk("mmcblk0", 16 * MiB, "179:0");

        // Device nodes: an NTFS file system straight on loop2, an MBR on sda, NTFS on sda2, blanks
        // on loop10 and sda1. nvme0n1p1 and mmcblk0 have no node.
        ASSERT_EQ(m.shell("mkdir -p dev && truncate -s 8M dev/loop2 dev/loop10 && truncate -s 32M dev/sda"
                          " && truncate -s 3M dev/sda1 && truncate -s 2M dev/sda2 && truncate -s 16M dev/nvme0n1"
                          " && mkntfs -q -F -f -Q -L 'Fake Volume' dev/loop2"
                          " && mkntfs -q -F -f -Q dev/sda2"
                          " && printf 'label: dos\\n,3M,7\\n,2M,7\\n' | sfdisk -q dev/sda")
                      .exitCode,
                  0);
        // udev knows mmcblk0: an NTFS card whose label has a byte that is not UTF-8.
        m.file("udev/b179:0", "S:disk/by-id/mmc-card\nE:ID_FS_TYPE=ntfs\nE:ID_FS_LABEL_ENC=Caf\\xc3\\xa9\\x20\\xff\n");
        m.file("mountinfo",
               "27 1 254:0 / / rw,relatime - ext4 /dev/vda rw\n"
               "62 27 0:99 / /media/card rw,nosuid - fuseblk "
                   + m.node("mmcblk0") + " ro,allow_other\n");
    }

    FakeMachine m;
};

TEST_F(FakeMachineTest, ListShowsMatchingDisksInNaturalOrderWithTheirPartitions)
{
    const auto run = m.diskutil({"list", "-plist"});
    ASSERT_EQ(run.exitCode, 0) << run.standardError;
    const auto plist = Plist::parse(run.standardOutput);
    ASSERT_TRUE(plist) << run.standardOutput;
    EXPECT_EQ(Plist::keys(plist->root()), std::vector<std::string>{"AllDisksAndPartitions"});
    const auto disks = Plist::array(plist->root(), "AllDisksAndPartitions");
    ASSERT_TRUE(disks);

    std::vector<std::string> names;
    for (plist_t disk : *disks)
        names.push_back(Plist::string(disk, "DeviceIdentifier").value_or("?"));
    EXPECT_EQ(names, (std::vector<std::string>{"loop2", "loop10", "mmcblk0", "nvme0n1", "sda"}));
    ASSERT_EQ(disks->size(), 5u);

    // loop2: NTFS without a table.
    EXPECT_EQ(Plist::keys((*disks)[0]), (std::vector<std::string>{"DeviceIdentifier", "Size", "Content"}));
    EXPECT_EQ(Plist::integer((*disks)[0], "Size"), 8 * MiB);
    EXPECT_EQ(Plist::string((*disks)[0], "Content"), "Windows_NTFS");
    // loop10: nothing recognisable.
    EXPECT_EQ(Plist::string((*disks)[1], "Content"), "");
    EXPECT_FALSE(Plist::array((*disks)[1], "Partitions"));
    // mmcblk0: no node to read, so udev's record answers.
    EXPECT_EQ(Plist::string((*disks)[2], "Content"), "Windows_NTFS");
    // nvme0n1: the kernel knows a partition but the disk shows no table; the partition is listed.
    const auto nvmeParts = Plist::array((*disks)[3], "Partitions");
    ASSERT_TRUE(nvmeParts && nvmeParts->size() == 1);
    EXPECT_EQ(Plist::string(nvmeParts->front(), "DeviceIdentifier"), "nvme0n1p1");
    EXPECT_EQ(Plist::string(nvmeParts->front(), "Content"), "");
    // sda: MBR, partitions by number (sda10 last), sizes from sysfs.
    EXPECT_EQ(Plist::string((*disks)[4], "Content"), "FDisk_partition_scheme");
    const auto sdaParts = Plist::array((*disks)[4], "Partitions");
    ASSERT_TRUE(sdaParts && sdaParts->size() == 3);
    const std::vector<std::tuple<std::string, std::int64_t, std::string>> expected = {
        {"sda1", 3 * MiB, ""}, {"sda2", 2 * MiB, "Windows_NTFS"}, {"sda10", 1 * MiB, ""}};
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(Plist::string((*sdaParts)[i], "DeviceIdentifier"), std::get<0>(expected[i]));
        EXPECT_EQ(Plist::integer((*sdaParts)[i], "Size"), std::get<1>(expected[i]));
        EXPECT_EQ(Plist::string((*sdaParts)[i], "Content"), std::get<2>(expected[i]));
    }

    // The unreadable partition is named on standard error; the listing still succeeds.
    EXPECT_NE(run.standardError.find("nvme0n1p1"), std::string::npos) << run.standardError;
}

TEST_F(FakeMachineTest, InfoFromUdevRepairsTheLabelAndFindsAFuseMountBySource)
{
    const auto run = m.diskutil({"info", "-plist", "mmcblk0"});
    ASSERT_EQ(run.exitCode, 0) << run.standardError;
    const auto plist = Plist::parse(run.standardOutput);
    ASSERT_TRUE(plist) << run.standardOutput;
    EXPECT_EQ(Plist::string(plist->root(), "VolumeName"), "Caf\xC3\xA9 " + fffd);
    EXPECT_EQ(Plist::string(plist->root(), "MountPoint"), "/media/card");
    EXPECT_EQ(Plist::boolean(plist->root(), "Writable"), false); // the file system itself is read-only
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
        const auto run = m.diskutil(args);
        EXPECT_NE(run.exitCode, 0);
        EXPECT_EQ(run.standardOutput, "");
        const auto errors = lines(run.standardError);
        ASSERT_EQ(errors.size(), 1u) << run.standardError;
        EXPECT_EQ(errors[0].rfind("diskutil: ", 0), 0u) << errors[0];
    }
}

} // namespace
