#include "disks/DiskDiscovery.h"

#include "disks/PropertyList.h"

namespace DiskDiscovery {
namespace {

const QString kBasicData = QStringLiteral("Microsoft Basic Data");
// The detail's name for NTFS: what a Basic Data partition's detail must say, and the file system
// of a candidate whose detail names none.
const QString kDefaultFilesystem = QStringLiteral("ntfs");

std::optional<Candidate> examine(const QVariantMap &entry)
{
    const auto content = PropertyList::text(entry, QStringLiteral("Content"));
    if (!content)
        return std::nullopt;
    const bool namesNtfs = content->contains(QStringLiteral("NTFS"));
    if (!namesNtfs && *content != kBasicData)
        return std::nullopt;
    const auto identifier = PropertyList::text(entry, QStringLiteral("DeviceIdentifier"));
    if (!identifier || !NTFSDisk::isSafeDeviceIdentifier(*identifier))
        return std::nullopt;
    const auto size = PropertyList::integer(entry, QStringLiteral("Size"));
    if (!size)
        return std::nullopt;
    return Candidate{*identifier, *size, !namesNtfs};
}

} // namespace

Listing parseListing(const QByteArray &output)
{
    Listing listing;
    const auto parsed = PropertyList::parse(output);
    if (!parsed.root) {
        listing.parseError = parsed.error;
        return listing;
    }
    if (parsed.root->typeId() != QMetaType::QVariantMap)
        return listing;
    const auto disks = PropertyList::dictionaries(parsed.root->toMap(), QStringLiteral("AllDisksAndPartitions"));
    if (!disks)
        return listing;
    for (const QVariantMap &disk : *disks) {
        // A disk with a partition table is examined through its partitions only.
        if (const auto partitions = PropertyList::dictionaries(disk, QStringLiteral("Partitions"))) {
            for (const QVariantMap &partition : *partitions)
                if (auto candidate = examine(partition))
                    listing.candidates.append(*candidate);
        } else if (auto candidate = examine(disk)) {
            listing.candidates.append(*candidate);
        }
    }
    return listing;
}

Detail parseDetail(const Candidate &candidate, const QByteArray &output)
{
    const auto parsed = PropertyList::parse(output);
    if (!parsed.root)
        return ParseError{parsed.error};
    if (parsed.root->typeId() != QMetaType::QVariantMap)
        return std::monostate{};
    const QVariantMap detail = parsed.root->toMap();
    const auto filesystem = PropertyList::text(detail, QStringLiteral("FilesystemType"));
    if (candidate.needsNtfsDetail && filesystem != kDefaultFilesystem)
        return std::monostate{};

    NTFSDisk disk;
    disk.deviceNode = candidate.deviceNode;
    disk.volumeName = PropertyList::text(detail, QStringLiteral("VolumeName")).value_or(NTFSDisk::kUntitledName);
    disk.size = candidate.size;
    disk.mountPoint = PropertyList::text(detail, QStringLiteral("MountPoint"));
    disk.isWritable = PropertyList::boolean(detail, QStringLiteral("Writable")).value_or(false);
    disk.filesystem = filesystem.value_or(kDefaultFilesystem);
    return disk;
}

} // namespace DiskDiscovery
