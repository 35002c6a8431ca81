#include "disks/MountTable.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

// Which mount line concerns a record, and what it says; lines about other devices and directories
// leave the record as its detail said (unmounted here).
TEST(MountTable, MountLinesGiveTheDirectoryAndWritabilityOfTheirOwnRecordOnly)
{
    const QString systemRO = "/dev/disk4s1 on /Volumes/Data (ntfs, local, nodev, nosuid, read-only, noowners)";
    const struct {
        QString listing;
        std::optional<QString> mountPoint;
        bool writable, fuseMountsAreWritable = true;
    } rows[] = {
        {systemRO, "/Volumes/Data", false},
        // A FUSE-T mount has no /dev/ source and is matched by its directory; it is always writable.
        {"fuse-t:/Data on /Volumes/Data (nfs, nodev, nosuid, read-only, mounted by user)", "/Volumes/Data", true},
        {"fuse-t:/Data on /Volumes/Data 2 (nfs)", "/Volumes/Data 2", true}, // a second volume of the same name
        {systemRO + "\nfuse-t:/Data on /Volumes/Data (nfs, read-only)", "/Volumes/Data", true}, // the last line decides
        {"/dev/disk4s1 on /Volumes/Data (macfuse, read-only)", "/Volumes/Data", true}, // so is any FUSE type
        // Where FUSE mounts carry their real flags (Linux), a read-only ntfs-3g mount stays read-only.
        {"/dev/disk4s1 on /Volumes/Data (fuseblk, read-only, nosuid)", "/Volumes/Data", false, false},
        {"junk\r\n" + systemRO + "\r\n", "/Volumes/Data", false},
        // Another device whose name starts with ours, other directories that start with ours.
        {"/dev/disk4s10 on /Volumes/Other (msdos, local)\nfuse-t:/Data2 on /Volumes/Data2 (nfs)\n"
         "fuse-t:/x on /Volumes/Data 01 (nfs)\nfuse-t:/x on /Volumes/Data 1a (nfs)\n/dev/disk4s1 on /Volumes/Data",
         std::nullopt, false},
    };
    for (const auto &row : rows) {
        const NTFSDisk disk = MountTable::apply({{"disk4s1", "Data", 1, std::nullopt, false, "ntfs"}}, row.listing,
                                                "/Volumes/", row.fuseMountsAreWritable)
                                  .first();
        EXPECT_EQ(disk.mountPoint, row.mountPoint) << row.listing.toStdString();
        EXPECT_EQ(disk.isWritable, row.writable) << row.listing.toStdString();
    }
}
