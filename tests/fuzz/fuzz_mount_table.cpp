// The mount-table probe: the first line names the volume, the rest is the listing.
#include "disks/MountTable.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString input = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    const qsizetype split = input.indexOf(QLatin1Char('\n'));
    const QString name = split < 0 ? input : input.left(split);
    const QString listing = split < 0 ? QString() : input.mid(split + 1);

    const QList<NTFSDisk> disks = {
        {"disk4s1", name, 1, std::nullopt, false, "ntfs"},
        {"disk4s10", name + "2", 2, QString("/Volumes/x"), true, "ntfs"},
    };
    const QList<NTFSDisk> result = MountTable::apply(disks, listing, "/Volumes/");
    if (result.size() != disks.size())
        std::abort();
    for (qsizetype i = 0; i < disks.size(); ++i) {
        const NTFSDisk &before = disks[i];
        const NTFSDisk &after = result[i];
        if (after.deviceNode != before.deviceNode || after.volumeName != before.volumeName
            || after.size != before.size || after.filesystem != before.filesystem)
            std::abort();
        // A mount point taken from the table is trimmed and holds neither "(" nor a line break.
        if (after.mountPoint && after.mountPoint != before.mountPoint
            && (after.mountPoint->contains(QLatin1Char('(')) || after.mountPoint->contains(QLatin1Char('\n'))))
            std::abort();
    }
    return 0;
}
