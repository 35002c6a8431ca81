// Malformed and odd listings and details; well-formed scans are DiskManagerScanTest's.
#include "disks/DiskDiscovery.h"
#include "support/PlistFixtures.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using DiskDiscovery::Candidate;
using namespace fixtures;

namespace {

NTFSDisk recordOf(const QByteArray &detailOutput, Candidate candidate = {"disk4s1", 1000, false})
{
    const auto parsed = DiskDiscovery::parseDetail(candidate, detailOutput);
    EXPECT_TRUE(std::holds_alternative<NTFSDisk>(parsed));
    return std::holds_alternative<NTFSDisk>(parsed) ? std::get<NTFSDisk>(parsed) : NTFSDisk{};
}

} // namespace

TEST(DiscoveryParsing, ListingEdgeCases)
{
    const auto candidatesOf = [](const QString &diskDict) {
        return DiskDiscovery::parseListing(listing({diskDict})).candidates;
    };
    const QString ntfsDisk7 = "<key>Content</key>" + str("Windows_NTFS") + "<key>DeviceIdentifier</key>" + str("disk7")
                              + "<key>Size</key>" + integer(10);
    // An empty "Partitions" list contributes nothing, even when the disk's own content names NTFS;
    // one that is not a list of dictionaries has the disk itself examined.
    EXPECT_TRUE(candidatesOf("<dict>" + ntfsDisk7 + "<key>Partitions</key>" + array({}) + "</dict>").isEmpty());
    EXPECT_EQ(candidatesOf("<dict>" + ntfsDisk7 + "<key>Partitions</key>" + array({str("x")}) + "</dict>"),
              (QList<Candidate>{{"disk7", 10, false}}));
    // A Microsoft Basic Data partition is a candidate to be decided by its detail.
    EXPECT_EQ(candidatesOf(dict({{"DeviceIdentifier", str("disk5")},
                                 {"Partitions", array({partition("disk5s2", 9, "Microsoft Basic Data")})}})),
              (QList<Candidate>{{"disk5s2", 9, true}}));

    const auto partitionCandidates = [&](const QString &partitionDict) {
        return candidatesOf(dict({{"DeviceIdentifier", str("disk9")}, {"Partitions", array({partitionDict})}}));
    };
    const auto ntfsPart = [](const QString &id, const QString &size) {
        return dict({{"Content", str("Windows_NTFS")}, {"DeviceIdentifier", id}, {"Size", size}});
    };
    EXPECT_TRUE(partitionCandidates(partition("disk9s1", 10, "ntfs")).isEmpty()); // case-sensitive
    EXPECT_EQ(partitionCandidates(partition("disk9s1", 10, "Some_NTFS_Thing")).size(), 1);
    EXPECT_EQ(partitionCandidates(partition("nvme0n1p2", 10, "Windows_NTFS")).size(), 1);
    for (const QString &bad : {
             dict({{"Content", str("Windows_NTFS")}, {"Size", integer(10)}}),
             dict({{"Content", str("Windows_NTFS")}, {"DeviceIdentifier", str("disk9s1")}}),
             ntfsPart(str("disk9s1"), str("10")), ntfsPart(integer(1), integer(10)),
             ntfsPart(str("disk9s1"), "<integer>18446744073709551615</integer>"), // beyond signed 64 bits
             partition("disk9s1;reboot", 10, "Windows_NTFS"), // would change a shell line
             partition("../sda", 10, "Windows_NTFS")})
        EXPECT_TRUE(partitionCandidates(bad).isEmpty()) << bad.toStdString();

    // Wrong shapes (an empty dictionary in the binary encoding too): nothing, and no parse error;
    // not a property list at all: a described error.
    const QByteArray binaryEmptyDict("bplist00\xD0\x08\0\0\0\0\0\0\x01\x01\0\0\0\0\0\0\0\x01"
                                     "\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\x09", 42);
    for (const QByteArray &output : {plist(array({})), plist(dict({})), listing({}), binaryEmptyDict,
                                     plist(dict({{"AllDisksAndPartitions", str("x")}})),
                                     plist(dict({{"AllDisksAndPartitions", array({str("x")})}}))}) {
        const auto parsed = DiskDiscovery::parseListing(output);
        EXPECT_TRUE(parsed.candidates.isEmpty());
        EXPECT_TRUE(parsed.parseError.isEmpty());
    }
    for (const QByteArray &output : {QByteArray("Could not find disk"), QByteArray(), QByteArray("<plist><dict>")})
        EXPECT_FALSE(DiskDiscovery::parseListing(output).parseError.isEmpty()) << output.constData();
}

TEST(DiscoveryParsing, DetailKeysTheirDefaultsAndWrongShapes)
{
    const NTFSDisk untitled{"disk4s1", "Untitled NTFS Drive", 1000, std::nullopt, false, "ntfs"};
    EXPECT_EQ(recordOf(detail({{"Size", integer(999)}})), untitled); // the listing's size counts
    // Wrong types count as missing; present but empty texts are kept as they are.
    EXPECT_EQ(recordOf(detail({{"VolumeName", integer(3)}, {"MountPoint", boolean(true)},
                               {"Writable", str("true")}, {"FilesystemType", array({})}})),
              untitled);
    const NTFSDisk empties = recordOf(detail({{"VolumeName", str("")}, {"MountPoint", str("")}}));
    EXPECT_EQ(empties.volumeName, "");
    EXPECT_EQ(empties.mountPoint, QString(""));
    EXPECT_TRUE(recordOf(detail({{"Writable", boolean(true)}})).isWritable);
    // A NUL byte inside a string is read, never a crash (the mount directory replaces NULs).
    EXPECT_TRUE(recordOf(detail({{"VolumeName", "<string>My" + QString(QChar(0)) + "Disk</string>"}}))
                    .volumeName.startsWith("My"));

    EXPECT_TRUE(std::holds_alternative<std::monostate>(
        DiskDiscovery::parseDetail({"disk4s1", 1, false}, plist(array({})))));
    // A Basic Data partition is kept only when its detail says NTFS.
    const Candidate basic{"disk5s2", 5, true};
    EXPECT_TRUE(std::holds_alternative<NTFSDisk>(
        DiskDiscovery::parseDetail(basic, detail({{"FilesystemType", str("ntfs")}}))));
    for (const QByteArray &output : {detail({{"FilesystemType", str("exfat")}}), detail({})})
        EXPECT_TRUE(std::holds_alternative<std::monostate>(DiskDiscovery::parseDetail(basic, output)));
}
