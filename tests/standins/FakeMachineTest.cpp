// diskutil against a made-up machine: a sysfs tree, device nodes that are plain image files, a
// udev database and a mount table, all in a temporary directory.
#include "SignatureProbe.h"
#include "StandinHarness.h"
#include "disks/PropertyList.h"

#include <QJsonDocument>

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <fstream>

#include <unistd.h>

using namespace standins;
using namespace standins::testing;
namespace fs = std::filesystem;
using namespace std::string_view_literals;

namespace {

constexpr std::int64_t MiB = 1024 * 1024;

// A property list read as the application reads it, as compact JSON with the keys sorted; "?"
// when it does not parse.
std::string plistText(const std::string &xml)
{
    const auto root = PropertyList::parse(QByteArray::fromStdString(xml)).root;
    return root ? QJsonDocument::fromVariant(*root).toJson(QJsonDocument::Compact).toStdString() : "?";
}

class FakeMachineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (sh("command -v mkntfs && command -v sfdisk && command -v mkfs.ext4").exitCode != 0)
            GTEST_SKIP() << "mkntfs, sfdisk and mkfs.ext4 are needed to make the sample images";
        // Whole disks, created out of order; some of them must not be listed (the names that must
        // not are checked one by one in the listing's test).
        const struct {
            const char *name, *dev, *disk = "";
            std::int64_t mib = 8;
            int number = 0;
        } devices[] = {
            {"loop10", "7:10"}, {"loop2", "7:2"}, {"loop3", "7:3"}, // loop3 has nothing attached
            {"mmcblk0boot0", "179:8"}, {"nvme1n1", "259:9"}, {"sdb", "8:16", "", 0}, // a multipath path, an empty card reader
            {"sda", "8:0", "", 32}, {"sda10", "8:10", "sda", 1, 10}, {"sda2", "8:2", "sda", 2, 2},
            {"sda1", "8:1", "sda", 3, 1}, {"nvme0n1", "259:0", "", 16}, {"nvme0n1p1", "259:1", "nvme0n1", 8, 1},
            {"mmcblk0", "179:0", "", 16}};
        for (const auto &d : devices) {
            const std::string path = dir / "sys/block/" + (*d.disk ? d.disk + std::string("/") : "") + d.name;
            writeFile(path + "/size", std::to_string(d.mib * 2048) + "\n");
            writeFile(path + "/dev", d.dev + std::string("\n"));
            if (d.number)
                writeFile(path + "/partition", std::to_string(d.number) + "\n");
            fs::create_directories(dir / "sys/class/block");
            fs::create_directory_symlink(path, dir / "sys/class/block/" + d.name);
        }
        writeFile(dir / "sys/block/loop10/loop/backing_file", "/images/ten.img\n");
        writeFile(dir / "sys/block/loop2/loop/backing_file", "/images/two.img\n");
        writeFile(dir / "sys/block/nvme1n1/hidden", "1\n");
        // Device nodes: NTFS straight on loop2, an MBR on sda with ext4 and NTFS partitions, GPT on
        // nvme0n1, a blank loop10. nvme0n1p1 and mmcblk0 have no node.
        const auto made = sh("cd '" + dir.path() + "' && mkdir -p dev && truncate -s 8M dev/loop2 dev/loop10"
                             " && truncate -s 32M dev/sda && truncate -s 3M dev/sda1 && truncate -s 2M dev/sda2"
                             " && truncate -s 16M dev/nvme0n1 && printf 'label: gpt\\n,4M,EBD0A0A2-B9E5-4433-87C0-68B6B72699C7\\n' | sfdisk -q dev/nvme0n1"
                             " && mkntfs -q -F -f -Q -L 'Fake Volume' dev/loop2"
                             " && mkntfs -q -F -f -Q dev/sda2 && mkfs.ext4 -q -F dev/sda1 && printf 'label: dos\\n,3M,7\\n,2M,7\\n' | sfdisk -q dev/sda");
        ASSERT_EQ(made.exitCode, 0) << made.standardError;
        // udev knows mmcblk0: an NTFS card whose label holds what XML cannot carry, and escapes
        // that are not udev's (not hex, cut short, octal) and stay as they are.
        writeFile(dir / "udev/b179:0", "S:disk/by-id/mmc-card\nE:ID_FS_TYPE=ntfs\n"
                                       "E:ID_FS_LABEL_ENC=Caf\\xc3\\xa9\\x20&\\x20<J>\\x0d\\x09\\x01\\xff\\xef\\xbf\\xbe\\xZZ\\x4g\\040\\x4\n");
        // The card's FUSE mount names its node; loop2's is found by its device number.
        writeFile(dir / "mountinfo", "27 1 254:0 / / rw,relatime - ext4 /dev/vda rw\n"
                                     "62 27 0:99 / /media/card rw,nosuid - fuseblk " + dir / "dev/mmcblk0" + " ro,allow_other\n"
                                     "63 27 7:2 / /media/Fake\\040Volume rw - fuseblk /dev/loop2 rw\n");
    }

    // `before` runs diskutil (as another user, say).
    ProgramResult diskutil(const std::vector<std::string> &args, const std::vector<std::string> &before = {}) const
    {
        return runStandin("diskutil", args,
                          {"QUORVEL_SYSFS_ROOT=" + dir / "sys", "QUORVEL_DEV_ROOT=" + dir / "dev", "QUORVEL_MOUNTINFO=" + dir / "mountinfo",
                           "QUORVEL_UDEV_DATA=" + dir / "udev", "QUORVEL_MOUNT_ROOT=" + dir / "media", "FAKE_LOG=" + dir / "log"},
                          before);
    }

    TempDir dir;
};

TEST_F(FakeMachineTest, ListShowsMatchingDisksInNaturalOrderWithTheirPartitions)
{
    // Whole disks only, and the whole name must match.
    for (const char *name : {"loop12", "sdab", "vda", "xvdc", "nvme10n2", "mmcblk0"})
        EXPECT_TRUE(isListedDiskName(name)) << name;
    for (const std::string_view name : std::initializer_list<std::string_view>{"", "loop", "loop0p1", "sda1", "xsda", "xvd", "nvme0", "nvme0n1p1",
                                        "mmcblk0boot0", "zram0", "dm-0", "sr0", "SDA", "sda ", "loop1\0x"sv})
        EXPECT_FALSE(isListedDiskName(name)) << '"' << name << '"';
    const auto run = diskutil({"list", "-plist"});
    ASSERT_EQ(run.exitCode, 0) << run.standardError;
    auto entry = [](const std::string &id, std::int64_t mib, const std::string &content, const std::string &parts = "") {
        return R"({"Content":")" + content + R"(","DeviceIdentifier":")" + id + '"'
            + (parts.empty() ? "" : R"(,"Partitions":[)" + parts + "]") + R"(,"Size":)" + std::to_string(mib * MiB) + "}";
    };
    // mmcblk0 has no node to read, so udev's record answers; nvme0n1's partition is listed though
    // it has no node; sda's partitions come by number (sda10 last); sizes are sysfs's.
    EXPECT_EQ(plistText(run.standardOutput),
              R"({"AllDisksAndPartitions":[)" + entry("loop2", 8, "Windows_NTFS") + "," + entry("loop10", 8, "") + ","
                  + entry("mmcblk0", 16, "Windows_NTFS") + "," + entry("nvme0n1", 16, "GUID_partition_scheme", entry("nvme0n1p1", 8, ""))
                  + "," + entry("sda", 32, "FDisk_partition_scheme", entry("sda1", 3, "ext4") + "," + entry("sda2", 2, "Windows_NTFS")
                  + "," + entry("sda10", 1, "")) + "]}");
    // The unreadable partition is named on standard error; the listing still succeeds.
    EXPECT_NE(run.standardError.find("nvme0n1p1"), std::string::npos) << run.standardError;
}

// The writer's output as the application reads it: what XML 1.0 cannot carry (invalid UTF-8, C0
// controls, U+FFFE) comes back as U+FFFD, markup characters, tab and carriage return unchanged.
TEST_F(FakeMachineTest, InfoReadsLabelsFromUdevOrTheDeviceAndFindsTheirMounts)
{
    const auto card = diskutil({"info", "-plist", "/dev/mmcblk0"}), loop = diskutil({"info", "-plist", "loop2"});
    ASSERT_EQ(card.exitCode, 0) << card.standardError;
    // Not writable: the file system itself is mounted read-only.
    EXPECT_EQ(plistText(card.standardOutput), R"({"Content":"Windows_NTFS","DeviceIdentifier":"mmcblk0","FilesystemType":"ntfs",)"
                                              R"("MountPoint":"/media/card","Size":16777216,"VolumeName":"Café & <J>\r\t)"
                                              "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD" R"(\\xZZ\\x4g\\040\\x4","Writable":false})");
    EXPECT_EQ(plistText(loop.standardOutput), R"({"Content":"Windows_NTFS","DeviceIdentifier":"loop2","FilesystemType":"ntfs",)"
                                              R"("MountPoint":"/media/Fake Volume","Size":8388608,"VolumeName":"Fake Volume","Writable":true})");
}

TEST_F(FakeMachineTest, BadIdentifiersAndArgumentsFailWithOneMessage)
{
    for (const std::vector<std::string> &args : std::vector<std::vector<std::string>>{
             // A path, even one that leads to the card (udev's record answers for it).
             {"info", "-plist", "sdz9"}, {"info", "-plist", "mmcblk0/../mmcblk0"}, {"info", "-plist", ""},
             {"info", "-plist", "nvme0n1p1"}, // known to the kernel, but unreadable
             {"unmount", "/dev/sdz9"}, {"list"}, {"info", "sda1"}, {}}) {
        const auto run = diskutil(args);
        EXPECT_NE(run.exitCode, 0);
        EXPECT_EQ(run.standardOutput, "");
        EXPECT_EQ(run.standardError.rfind("diskutil: ", 0), 0u) << run.standardError;
        EXPECT_EQ(std::count(run.standardError.begin(), run.standardError.end(), '\n'), 1) << run.standardError;
    }
}

// More devices than are held open at once: each probe comes back in the devices' order, equal to
// a single probe, and nothing stays open. What a single probe finds is the listing's and info's.
TEST_F(FakeMachineTest, ProbingManyDevicesTogetherMatchesSingleProbesAndLeavesNothingOpen)
{
    SystemPaths paths;
    paths.dev = dir / "dev";
    paths.udevData = dir / "udev";
    auto show = [](const ProbeResult &p) {
        return std::to_string(p.ok) + "|" + p.error + "|" + p.fsType + "|" + p.label.value_or("-") + "|" + p.tableType;
    };
    // Three kinds, so that a group of devices misplaced by a multiple of the group size shows.
    std::vector<BlockDevice> devices;
    std::vector<std::string> expected, seen;
    for (unsigned i = 0; i < 150; ++i) {
        devices.push_back({std::array{"loop2", "sda", "missing"}[i % 3], 8 * MiB, 0, i});
        expected.push_back(show(probeBlockDevice(paths, devices.back())));
    }
    auto descriptors = [] { return std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator()); };
    const auto before = descriptors();
    for (const ProbeResult &probe : probeBlockDevices(paths, devices))
        seen.push_back(show(probe));
    EXPECT_EQ(descriptors(), before);
    EXPECT_EQ(seen, expected);
}

// An ordinary user cannot unmount what root mounted: the unmount and the removal of the emptied
// directory go through pkexec as one shell line, the mount point passed as an argument. Stand-ins
// for pkexec (which runs the line as it is) and umount (which drops the mount from the table) are
// bound over the real ones in a mount namespace of the test's own.
TEST_F(FakeMachineTest, AnOrdinaryUsersUnmountGoesThroughPkexecInOneShellLine)
{
    if (::geteuid() != 0 || !fs::exists("/usr/bin/setpriv"))
        GTEST_SKIP() << "needs root and setpriv";
    // unshare -m makes / private, which fails where it is no mount point (a chroot).
    if (const auto probe = sh("unshare -m true 2>&1"); probe.exitCode != 0)
        GTEST_SKIP() << "cannot make a private mount namespace here: " << probe.standardOutput;
    const std::string point = dir / "media/My 'Disk' $x";
    fs::create_directories(point);
    writeFile(dir / "pkexec", "#!/bin/sh\n[ -z \"${FAKE_DISMISS-}\" ] || exit 126\nexec \"$@\"\n");
    writeFile(dir / "umount", "#!/bin/sh\nprintf '[%s]' \"$@\" > \"$FAKE_LOG\"\n: > \"$QUORVEL_MOUNTINFO\"\n");
    auto unmountAsNobody = [&](const std::string &env) {
        writeFile(dir / "mountinfo", "70 27 8:99 / " + dir / "media/My\\040'Disk'\\040$x rw - ext4 " + dir / "dev/sdz1 rw\n");
        return diskutil({"unmount", "/dev/sdz1"},
                        {"/usr/bin/unshare", "-m", "/bin/sh", "-c",
                         "chmod -R a+rwx \"$0\" && mount --bind \"$0\"/pkexec /usr/bin/pkexec && mount --bind \"$0\"/umount "
                         "/bin/umount && exec env " + env + " /usr/bin/setpriv --reuid=65534 --regid=65534 --clear-groups \"$@\"",
                         dir.path()});
    };
    const auto dismissed = unmountAsNobody("FAKE_DISMISS=1");
    if (dismissed.standardError.find("Permission denied") != std::string::npos)
        GTEST_SKIP() << "the build tree is not readable by nobody: " << dismissed.standardError;
    EXPECT_EQ(dismissed.exitCode, 1);
    EXPECT_EQ(dismissed.standardError, "diskutil: Volume My 'Disk' $x on sdz1 failed to unmount from " + point
                                           + ": the administrator authentication was dismissed\n");
    EXPECT_TRUE(fs::exists(point));
    const auto run = unmountAsNobody("FAKE_DISMISS=");
    EXPECT_EQ(run.exitCode, 0) << run.standardError;
    EXPECT_EQ(run.standardOutput, "Volume My 'Disk' $x on sdz1 unmounted\n");
    std::ifstream log(dir / "log");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(log), {}), "[--][" + point + "]");
    EXPECT_FALSE(fs::exists(point));
}

} // namespace
