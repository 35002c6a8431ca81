// The disk utility's listing and detail property lists into candidates and records.
#include "disks/DiskDiscovery.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const DiskDiscovery::Listing listing = DiskDiscovery::parseListing(bytes);
    for (const DiskDiscovery::Candidate &candidate : listing.candidates) {
        // Only identifiers that may stand unquoted on a shell line are ever offered.
        if (!NTFSDisk::isSafeDeviceIdentifier(candidate.deviceNode))
            std::abort();
    }
    if (!listing.parseError.isEmpty() && !listing.candidates.isEmpty())
        std::abort();

    const DiskDiscovery::Detail detail = DiskDiscovery::parseDetail({"disk4s1", 42, size % 2 == 0}, bytes);
    if (const auto *disk = std::get_if<NTFSDisk>(&detail)) {
        if (disk->deviceNode != "disk4s1" || disk->size != 42)
            std::abort();
    }
    return 0;
}
