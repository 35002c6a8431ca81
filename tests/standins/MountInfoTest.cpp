#include "MountInfo.h"

#include <gtest/gtest.h>

using namespace standins;

namespace {

TEST(MountInfo, ParsesKernelLinesWithAndWithoutOptionalFields)
{
    const auto entries = parseMountInfo(
        "27 1 254:0 / / rw,relatime shared:1 master:2 - ext4 /dev/vda rw,discard\n"
        "45 27 259:0 / /media/My\\040Disk rw,nosuid,nodev,relatime - fuseblk /dev/loop3p1 rw,user_id=0,allow_other\n"
        "46 27 0:50 /sub /srv/bind ro,relatime - tmpfs  rw\n"
        "49 27 8:2 / /data rw - ext4 /dev/sda2 rw,errors=remount-ro\n"
        "garbage line\n"
        "47 27 x:1 / /bad rw - ext4 /dev/sdz rw\n"
        "48 27 8:1 / /no/separator rw ext4 /dev/sda1 rw\n");
    ASSERT_EQ(entries.size(), 4u);

    EXPECT_EQ(entries[0].id, 27);
    EXPECT_EQ(entries[0].major, 254u);
    EXPECT_EQ(entries[0].fsType, "ext4");
    EXPECT_EQ(entries[0].source, "/dev/vda");
    EXPECT_EQ(entries[0].superOptions, "rw,discard");

    EXPECT_EQ(entries[1].parentId, 27);
    EXPECT_EQ(entries[1].minor, 0u);
    EXPECT_EQ(entries[1].mountPoint, "/media/My Disk");
    EXPECT_EQ(entries[1].source, "/dev/loop3p1");
    EXPECT_FALSE(entries[1].isReadOnly());

    // An empty source is a field of its own: the super options stay in place.
    EXPECT_EQ(entries[2].root, "/sub");
    EXPECT_EQ(entries[2].source, "");
    EXPECT_EQ(entries[2].superOptions, "rw");
    EXPECT_TRUE(entries[2].isReadOnly());

    EXPECT_FALSE(entries[3].isReadOnly()) << "\"ro\" counts only as a whole option";
}

TEST(MountInfo, FormatsOneLinePerMountInTheListingShape)
{
    const auto rw = parseMountInfoLine(
        "45 27 259:0 / /media/My\\040Disk rw,nosuid,nodev,relatime - fuseblk /dev/loop3p1 rw,allow_other");
    ASSERT_TRUE(rw);
    EXPECT_EQ(formatMountLine(*rw), "/dev/loop3p1 on /media/My Disk (fuseblk, nosuid, nodev, relatime)");

    const auto ro = parseMountInfoLine("46 27 259:1 / /media/Data rw,noexec - ext4 /dev/sdb1 ro");
    ASSERT_TRUE(ro);
    EXPECT_EQ(formatMountLine(*ro), "/dev/sdb1 on /media/Data (ext4, read-only, noexec)");

    // A line feed in a directory name must not split the mount over two lines.
    const auto odd = parseMountInfoLine("47 27 8:1 / /media/a\\012b ro - vfat /dev/sdc1 ro");
    ASSERT_TRUE(odd);
    EXPECT_EQ(formatMountLine(*odd), "/dev/sdc1 on /media/a\\012b (vfat, read-only)");

    // Nor a carriage return that reached the type or the options unescaped.
    const auto raw = parseMountInfoLine("48 27 8:2 / /media/x rw,no\rexec - fuse\rblk /dev/sdd1 rw");
    ASSERT_TRUE(raw);
    EXPECT_EQ(formatMountLine(*raw), "/dev/sdd1 on /media/x (fuse\\015blk, no\\015exec)");
}

} // namespace
