#include "MountInfo.h"

#include <gtest/gtest.h>

using namespace standins;

namespace {

// Each well-formed line as "id parent major:minor root [super options] listing line".
TEST(MountInfo, ParsesKernelLinesAndListsEachMountOnOneLine)
{
    std::vector<std::string> seen;
    for (const MountEntry &e : parseMountInfo(
             "27 1 254:0 / / rw,relatime shared:1 master:2 - ext4 /dev/vda rw,discard\n"
             "45 27 259:0 / /media/My\\040Disk rw,nosuid,nodev,relatime - fuseblk /dev/loop3p1 rw,allow_other\n"
             "46 27 0:50 /sub /srv/bind ro,relatime - tmpfs  rw\n" // no source: the fields stay in place
             "49 27 8:2 / /data rw - ext4 /dev/sda2 rw,errors=remount-ro\n"
             "garbage line\n"
             "47 27 x:1 / /bad rw - ext4 /dev/sdz rw\n"
             "48 27 8:1 / /no/separator rw ext4 /dev/sda1 rw\n"
             "46 27 259:1 / /media/Data rw,noexec - ext4 /dev/sdb1 ro\n"
             "47 27 8:1 / /media/a\\012b ro - vfat /dev/sdc1 ro\n"
             "48 27 8:2 / /media/x rw,no\rexec - fuse\rblk /dev/sdd1 rw\n"))
        seen.push_back(std::to_string(e.id) + " " + std::to_string(e.parentId) + " " + std::to_string(e.major) + ":"
                       + std::to_string(e.minor) + " " + e.root + " [" + e.superOptions + "] " + formatMountLine(e));
    // "ro" counts only as a whole option; line breaks in names and fields stay escaped.
    EXPECT_EQ(seen, (std::vector<std::string>{
                        "27 1 254:0 / [rw,discard] /dev/vda on / (ext4, relatime)",
                        "45 27 259:0 / [rw,allow_other] /dev/loop3p1 on /media/My Disk (fuseblk, nosuid, nodev, relatime)",
                        "46 27 0:50 /sub [rw]  on /srv/bind (tmpfs, read-only, relatime)",
                        "49 27 8:2 / [rw,errors=remount-ro] /dev/sda2 on /data (ext4)",
                        "46 27 259:1 / [ro] /dev/sdb1 on /media/Data (ext4, read-only, noexec)",
                        "47 27 8:1 / [ro] /dev/sdc1 on /media/a\\012b (vfat, read-only)",
                        "48 27 8:2 / [rw] /dev/sdd1 on /media/x (fuse\\015blk, no\\015exec)",
                    }));
}

} // namespace
