#include "disks/DiskDiscovery.h"
#include "support/PlistFixtures.h"
#include "support/TestSupport.h"

#include <plist/plist.h>

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

QByteArray toBinary(const QByteArray &xml)
{
    plist_t root = nullptr;
    plist_from_xml(xml.constData(), uint32_t(xml.size()), &root);
    char *bin = nullptr;
    uint32_t length = 0;
    plist_to_bin(root, &bin, &length);
    QByteArray out(bin, length);
    free(bin);
    plist_free(root);
    return out;
}

} // namespace

TEST(DiscoveryParsing, RealisticListingYieldsNtfsPartitionsInDiscoveryOrder)
{
    const auto listing = DiskDiscovery::parseListing(realisticListing());
    EXPECT_TRUE(listing.parseError.isEmpty());
    EXPECT_EQ(listing.candidates, (QList<Candidate>{
                                      {"disk4s1", 1000204886016, false},
                                      {"disk4s3", 500000000000, false},
                                      {"disk5s2", 63813500928, true}, // Basic Data: decided by its detail
                                      {"disk6", 32017047552, false},  // NTFS without a partition table
                                  }));
    // The binary encoding reads the same.
    EXPECT_EQ(DiskDiscovery::parseListing(toBinary(realisticListing())).candidates, listing.candidates);
}

TEST(DiscoveryParsing, ListingEdgeCases)
{
    // An empty "Partitions" list contributes nothing, even when the disk's own content names NTFS.
    EXPECT_TRUE(DiskDiscovery::parseListing(listing({dict({{"Content", str("Windows_NTFS")},
                                                           {"DeviceIdentifier", str("disk7")},
                                                           {"Size", integer(10)},
                                                           {"Partitions", array({})}})}))
                    .candidates.isEmpty());
    // "Partitions" that is not a list of dictionaries: the disk itself is examined.
    EXPECT_EQ(DiskDiscovery::parseListing(listing({dict({{"Content", str("Windows_NTFS")},
                                                         {"DeviceIdentifier", str("disk7")},
                                                         {"Size", integer(10)},
                                                         {"Partitions", array({str("x")})}})}))
                  .candidates,
              (QList<Candidate>{{"disk7", 10, false}}));

    const auto candidatesOf = [](const QString &partitionDict) {
        return DiskDiscovery::parseListing(
                   listing({dict({{"DeviceIdentifier", str("disk9")}, {"Partitions", array({partitionDict})}})}))
            .candidates;
    };
    EXPECT_TRUE(candidatesOf(partition("disk9s1", 10, "ntfs")).isEmpty()); // case-sensitive
    EXPECT_EQ(candidatesOf(partition("disk9s1", 10, "Some_NTFS_Thing")).size(), 1);
    EXPECT_TRUE(candidatesOf(dict({{"Content", str("Windows_NTFS")}, {"Size", integer(10)}})).isEmpty());
    EXPECT_TRUE(candidatesOf(dict({{"Content", str("Windows_NTFS")}, {"DeviceIdentifier", str("disk9s1")}})).isEmpty());
    EXPECT_TRUE(candidatesOf(dict({{"Content", str("Windows_NTFS")}, {"DeviceIdentifier", str("disk9s1")},
                                   {"Size", str("10")}})).isEmpty());
    EXPECT_TRUE(candidatesOf(dict({{"Content", str("Windows_NTFS")}, {"DeviceIdentifier", integer(1)},
                                   {"Size", integer(10)}})).isEmpty());
    // A size beyond the signed 64-bit range is no size.
    EXPECT_TRUE(candidatesOf(dict({{"Content", str("Windows_NTFS")}, {"DeviceIdentifier", str("disk9s1")},
                                   {"Size", "<integer>18446744073709551615</integer>"}})).isEmpty());
    // An identifier that would change a shell line is never offered.
    EXPECT_TRUE(candidatesOf(partition("disk9s1;reboot", 10, "Windows_NTFS")).isEmpty());
    EXPECT_TRUE(candidatesOf(partition("../sda", 10, "Windows_NTFS")).isEmpty());
    EXPECT_EQ(candidatesOf(partition("nvme0n1p2", 10, "Windows_NTFS")).size(), 1);

    // Wrong shapes: nothing, and no parse error.
    for (const QByteArray &output : {plist(array({})), plist(dict({})), listing({}),
                                     plist(dict({{"AllDisksAndPartitions", str("x")}})),
                                     plist(dict({{"AllDisksAndPartitions", array({str("x")})}}))}) {
        const auto parsed = DiskDiscovery::parseListing(output);
        EXPECT_TRUE(parsed.candidates.isEmpty());
        EXPECT_TRUE(parsed.parseError.isEmpty());
    }
    // Not a property list at all: a parse error with a description.
    for (const QByteArray &output : {QByteArray("Could not find disk"), QByteArray(), QByteArray("<plist><dict>")})
        EXPECT_FALSE(DiskDiscovery::parseListing(output).parseError.isEmpty()) << output.constData();
}

TEST(DiscoveryParsing, DetailKeysAndTheirDefaults)
{
    const NTFSDisk full = recordOf(detail({{"VolumeName", str("My Disk")}, {"MountPoint", str("/Volumes/My Disk")},
                                           {"Writable", boolean(false)}, {"FilesystemType", str("ntfs")},
                                           {"Size", integer(999)}}));
    EXPECT_EQ(full, (NTFSDisk{"disk4s1", "My Disk", 1000, QString("/Volumes/My Disk"), false, "ntfs"}));

    const NTFSDisk bare = recordOf(detail({}));
    EXPECT_EQ(bare, (NTFSDisk{"disk4s1", "Untitled NTFS Drive", 1000, std::nullopt, false, "ntfs"}));

    // Present but empty texts are kept as they are.
    const NTFSDisk empties = recordOf(detail({{"VolumeName", str("")}, {"MountPoint", str("")}}));
    EXPECT_EQ(empties.volumeName, "");
    EXPECT_EQ(empties.mountPoint, QString(""));

    // Wrong types count as missing.
    const NTFSDisk wrong = recordOf(detail({{"VolumeName", integer(3)}, {"MountPoint", boolean(true)},
                                            {"Writable", str("true")}, {"FilesystemType", array({})}}));
    EXPECT_EQ(wrong, (NTFSDisk{"disk4s1", "Untitled NTFS Drive", 1000, std::nullopt, false, "ntfs"}));
    EXPECT_TRUE(recordOf(detail({{"Writable", boolean(true)}})).isWritable);

    // A NUL byte inside a string is read, never a crash (the mount directory replaces NULs).
    const QByteArray withNul = detail({{"VolumeName", "<string>My" + QString(QChar(0)) + "Disk</string>"}});
    EXPECT_TRUE(recordOf(withNul).volumeName.startsWith("My"));

    // Non-ASCII names survive, in either encoding.
    EXPECT_EQ(recordOf(toBinary(detail({{"VolumeName", str(QString::fromUtf8("データ"))}}))).volumeName,
              QString::fromUtf8("データ"));
}

TEST(DiscoveryParsing, DetailRootMustBeADictionaryAndParseErrorsAreReported)
{
    EXPECT_TRUE(std::holds_alternative<std::monostate>(
        DiskDiscovery::parseDetail({"disk4s1", 1, false}, plist(array({})))));
    const auto broken = DiskDiscovery::parseDetail({"disk4s1", 1, false}, "disk4s1 not found");
    ASSERT_TRUE(std::holds_alternative<DiskDiscovery::ParseError>(broken));
    EXPECT_FALSE(std::get<DiskDiscovery::ParseError>(broken).description.isEmpty());
}

TEST(DiscoveryParsing, BasicDataPartitionIsKeptOnlyWhenItsDetailSaysNtfs)
{
    const Candidate basic{"disk5s2", 5, true};
    EXPECT_TRUE(std::holds_alternative<NTFSDisk>(
        DiskDiscovery::parseDetail(basic, detail({{"FilesystemType", str("ntfs")}}))));
    for (const QByteArray &output : {detail({{"FilesystemType", str("exfat")}}), detail({})})
        EXPECT_TRUE(std::holds_alternative<std::monostate>(DiskDiscovery::parseDetail(basic, output)));
}
