#include "disks/MountTable.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace {

NTFSDisk disk(const QString &node, const QString &name)
{
    return {node, name, 1, std::nullopt, false, "ntfs"};
}

NTFSDisk applied(const NTFSDisk &d, const QString &listing, bool fuseMountsAreWritable = true)
{
    return MountTable::apply({d}, listing, "/Volumes/", fuseMountsAreWritable).first();
}

} // namespace

TEST(MountTable, MountLinesGiveTheDirectoryAndWritability)
{
    const QString systemRO = "/dev/disk4s1 on /Volumes/Data (ntfs, local, nodev, nosuid, read-only, noowners, mounted by user)";
    struct Row {
        QString listing, mountPoint;
        bool writable, fuseMountsAreWritable = true;
    };
    const Row rows[] = {
        {systemRO, "/Volumes/Data", false},
        // A FUSE-T mount has a non-/dev/ source and is matched by its directory; it is always writable.
        {"fuse-t:/Data on /Volumes/Data (nfs, nodev, nosuid, read-only, mounted by user)", "/Volumes/Data", true},
        {"/dev/disk4s1 on /Volumes/Data (fuseblk, read-only)", "/Volumes/Data", true},
        {"fuse-t:/Data on /Volumes/Data 2 (nfs)", "/Volumes/Data 2", true}, // a second volume of the same name
        {systemRO + "\nfuse-t:/Data on /Volumes/Data (nfs, read-only)", "/Volumes/Data", true}, // the last line decides
        {"/dev/disk4s1 on /Volumes/Data (ntfs, readwrite, read-only)", "/Volumes/Data", true},
        {"/dev/disk4s1 on /Volumes/Data (apfs, writable, read-only)", "/Volumes/Data", true},
        {"/dev/disk4s1 on /Volumes/Data (ntfs, local)", "/Volumes/Data", true},
        // Where FUSE mounts carry their real flags (Linux), a read-only ntfs-3g mount stays read-only.
        {"/dev/disk4s1 on /Volumes/Data (fuseblk, read-only, nosuid)", "/Volumes/Data", false, false},
        {"/dev/disk4s1 on /Volumes/Data (fuseblk, nosuid)", "/Volumes/Data", true, false},
        // A "(" inside the directory cuts it before; CR LF and other line breaks split lines.
        {"/dev/disk4s1 on /Volumes/Da(ta) (ntfs, read-only)", "/Volumes/Da", false},
        {"junk\r\n/dev/disk4s1 on /Volumes/Data (ntfs, read-only)\r\n", "/Volumes/Data", false},
        {QString("x\u2028/dev/disk4s1 on /Volumes/Data (ntfs)"), "/Volumes/Data", true},
    };
    for (const Row &row : rows) {
        const NTFSDisk d = applied(disk("disk4s1", "Data"), row.listing, row.fuseMountsAreWritable);
        EXPECT_EQ(d.mountPoint, row.mountPoint) << row.listing.toStdString();
        EXPECT_EQ(d.isWritable, row.writable) << row.listing.toStdString();
    }
}

TEST(MountTable, LinesThatDoNotConcernARecordOrAreOddLeaveItAsItsDetailSaid)
{
    const QString others =
        "/dev/disk4s10 on /Volumes/Other (msdos, local, read-only)\n"
        "/dev/disk3s5 on /System/Volumes/Data (apfs, local, journaled)\n"
        "fuse-t:/Data2 on /Volumes/Data2 (nfs)\n"
        "map auto_home on /System/Volumes/Data/home (autofs, automounted, nobrowse)\n"
        "fuse-t:/x on /Volumes/Data 01 (nfs)\n"
        "fuse-t:/x on /Volumes/Data 1a (nfs)\n";
    NTFSDisk fromDetail = disk("disk4s1", "Data");
    fromDetail.mountPoint = "/Volumes/Data";
    for (const NTFSDisk &d : {disk("disk4s1", "Data"), fromDetail})
        for (const QString &listing : {others,
                                       // A directory containing " on " is cut there and loses its "(".
                                       QString("/dev/disk4s1 on /Volumes/Data on Mac (ntfs, read-only)"),
                                       QString("/dev/disk4s1 on /Volumes/Data"), QString("/dev/disk4s1 (ntfs)")})
            EXPECT_EQ(applied(d, listing), d) << listing.toStdString();

    const NTFSDisk nameless = disk("disk4s1", "");
    EXPECT_EQ(applied(nameless, "fuse-t:/x on /Volumes/ (nfs)"), nameless);
    EXPECT_EQ(applied(nameless, "fuse-t:/x on /Volumes/disk4s1 (nfs)").mountPoint, QString("/Volumes/disk4s1"));
    EXPECT_TRUE(MountTable::apply({}, "/dev/disk4s1 on /Volumes/Data (ntfs)", "/Volumes/").isEmpty());
}
