#include "disks/MountTable.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace {

NTFSDisk disk(const QString &node, const QString &name)
{
    return {node, name, 1, std::nullopt, false, "ntfs"};
}

NTFSDisk applied(const NTFSDisk &d, const QString &listing)
{
    return MountTable::apply({d}, listing, "/Volumes/").first();
}

} // namespace

TEST(MountTable, SystemReadOnlyMountAndFuseMounts)
{
    const QString systemRO = "/dev/disk4s1 on /Volumes/Data (ntfs, local, nodev, nosuid, read-only, noowners, mounted by user)";
    const NTFSDisk ro = applied(disk("disk4s1", "Data"), systemRO);
    EXPECT_EQ(ro.mountPoint, QString("/Volumes/Data"));
    EXPECT_FALSE(ro.isWritable);

    // A FUSE-T mount has a non-/dev/ source and is matched by its directory; it is always writable.
    const NTFSDisk nfs = applied(disk("disk4s1", "Data"),
                                 "fuse-t:/Data on /Volumes/Data (nfs, nodev, nosuid, read-only, mounted by user)");
    EXPECT_EQ(nfs.mountPoint, QString("/Volumes/Data"));
    EXPECT_TRUE(nfs.isWritable);
    EXPECT_TRUE(applied(disk("disk4s1", "Data"), "/dev/disk4s1 on /Volumes/Data (fuseblk, read-only)").isWritable);
    // The numbered directory a second volume of the same name gets.
    EXPECT_EQ(applied(disk("disk4s1", "Data"), "fuse-t:/Data on /Volumes/Data 2 (nfs)").mountPoint,
              QString("/Volumes/Data 2"));
    // The last line that concerns a record decides.
    EXPECT_TRUE(applied(disk("disk4s1", "Data"), systemRO + "\nfuse-t:/Data on /Volumes/Data (nfs, read-only)").isWritable);
}

TEST(MountTable, WritabilityRule)
{
    EXPECT_TRUE(MountTable::isWritableOptions("(ntfs, readwrite, read-only)"));
    EXPECT_TRUE(MountTable::isWritableOptions("(apfs, writable, read-only)"));
    EXPECT_TRUE(MountTable::isWritableOptions("(ntfs, local)"));
    EXPECT_TRUE(MountTable::isWritableOptions("(ntfs, read-only, fuse)"));
    EXPECT_FALSE(MountTable::isWritableOptions("(ntfs, read-only)"));
    // Where FUSE mounts carry their real flags (Linux), a read-only ntfs-3g mount stays read-only.
    EXPECT_FALSE(MountTable::isWritableOptions("(fuseblk, read-only, nosuid)", false));
    EXPECT_TRUE(MountTable::isWritableOptions("(fuseblk, nosuid)", false));
}

TEST(MountTable, LinesOfOtherDevicesAndVolumesDoNotConcernARecord)
{
    const QString listing =
        "/dev/disk4s10 on /Volumes/Other (msdos, local, read-only)\n"
        "/dev/disk3s5 on /System/Volumes/Data (apfs, local, journaled)\n"
        "fuse-t:/Data2 on /Volumes/Data2 (nfs)\n"
        "map auto_home on /System/Volumes/Data/home (autofs, automounted, nobrowse)\n"
        "fuse-t:/x on /Volumes/Data 01 (nfs)\n"
        "fuse-t:/x on /Volumes/Data 1a (nfs)\n";
    const NTFSDisk untouched = disk("disk4s1", "Data");
    EXPECT_EQ(applied(untouched, listing), untouched);
    // A record keeps what its detail said when no line concerns it.
    NTFSDisk fromDetail = untouched;
    fromDetail.mountPoint = "/Volumes/Data";
    EXPECT_EQ(applied(fromDetail, listing), fromDetail);
}

TEST(MountTable, OddLinesAreIgnored)
{
    const NTFSDisk d = disk("disk4s1", "Data");
    // A directory containing " on " is cut there and loses its "(": ignored.
    EXPECT_EQ(applied(d, "/dev/disk4s1 on /Volumes/Data on Mac (ntfs, read-only)"), d);
    EXPECT_EQ(applied(d, "/dev/disk4s1 on /Volumes/Data"), d);
    EXPECT_EQ(applied(d, "/dev/disk4s1 (ntfs)"), d);
    // A "(" inside the directory cuts it before.
    EXPECT_EQ(applied(d, "/dev/disk4s1 on /Volumes/Da(ta) (ntfs, read-only)").mountPoint, QString("/Volumes/Da"));
    // CR LF line ends and other line breaks split lines.
    const NTFSDisk crlf = applied(d, "junk\r\n/dev/disk4s1 on /Volumes/Data (ntfs, read-only)\r\n");
    EXPECT_EQ(crlf.mountPoint, QString("/Volumes/Data"));
    EXPECT_FALSE(crlf.isWritable);
    EXPECT_EQ(applied(d, QString("x\u2028/dev/disk4s1 on /Volumes/Data (ntfs)")).mountPoint, QString("/Volumes/Data"));
}

TEST(MountTable, NamelessVolumesMatchTheirDeviceDirectory)
{
    const NTFSDisk nameless = disk("disk4s1", "");
    EXPECT_EQ(applied(nameless, "fuse-t:/x on /Volumes/ (nfs)"), nameless);
    EXPECT_EQ(applied(nameless, "fuse-t:/x on /Volumes/disk4s1 (nfs)").mountPoint, QString("/Volumes/disk4s1"));
    EXPECT_TRUE(MountTable::apply({}, "/dev/disk4s1 on /Volumes/Data (ntfs)", "/Volumes/").isEmpty());
}
