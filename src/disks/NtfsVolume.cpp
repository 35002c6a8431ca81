#include "disks/NtfsVolume.h"

#include <QtEndian>
#include <QtNumeric>

#include <algorithm>
#include <bit>

namespace NtfsVolume {
namespace {

constexpr qint64 kBootSectorSize = 512;
constexpr qint64 kBlockSize = 512; // the stride of the update sequence, whatever the sector size
constexpr qint64 kMostRead = 65536; // no record or restart page read here is larger
constexpr int kJournalRecord = 2;   // $LogFile is the third file of the master file table
constexpr int kVolumeRecord = 3;    // $Volume the fourth
constexpr quint32 kVolumeInformation = 0x70;
constexpr quint32 kData = 0x80;
constexpr quint32 kEndOfAttributes = 0xFFFFFFFF;
constexpr quint16 kDirtyFlag = 0x0001;
constexpr quint16 kNoClient = 0xFFFF;
constexpr quint16 kClosedCleanly = 0x0002;
constexpr qint64 kClientRecordSize = 160;

template <typename T> std::optional<T> at(const QByteArray &bytes, qint64 offset)
{
    if (offset < 0 || offset + qint64(sizeof(T)) > bytes.size())
        return std::nullopt;
    return qFromLittleEndian<T>(bytes.constData() + offset);
}

// A record as written holds, at the end of each 512 bytes, the update sequence number instead of
// their own two last bytes, which are kept in the update sequence array. Puts them back; false
// where the record is torn or malformed.
bool applyFixups(QByteArray &record)
{
    const auto arrayOffset = at<quint16>(record, 4);
    const auto count = at<quint16>(record, 6);
    if (!arrayOffset || !count || *count < 1 || qint64(*count - 1) * kBlockSize > record.size())
        return false;
    const auto sequence = at<quint16>(record, *arrayOffset);
    for (int i = 1; i < *count; ++i) {
        const qint64 end = i * kBlockSize - 2;
        const auto stored = at<quint16>(record, *arrayOffset + 2 * i);
        if (!sequence || !stored || at<quint16>(record, end) != sequence)
            return false;
        qToLittleEndian<quint16>(*stored, record.data() + end);
    }
    return true;
}

// Where the boot sector puts the master file table, and the size of its records and clusters.
struct Layout {
    qint64 clusterSize = 0;
    qint64 tableOffset = 0;
    qint64 recordSize = 0;
};

std::optional<Layout> layout(const FileProbe &files, const QString &device)
{
    const QByteArray boot = files.read(device, 0, kBootSectorSize);
    if (boot.mid(3, 8) != QByteArrayLiteral("NTFS    "))
        return std::nullopt;
    const auto sectorSize = at<quint16>(boot, 0x0B);
    const auto sectorsPerCluster = at<quint8>(boot, 0x0D);
    const auto mftCluster = at<quint64>(boot, 0x30);
    const auto recordSizeCode = at<qint8>(boot, 0x40);
    // The record size is given in clusters, or as a negative power of two in bytes; no record is
    // larger than 2^16 bytes, and a larger power would not even fit the shift.
    if (!sectorSize || *sectorSize < 256 || !sectorsPerCluster || *sectorsPerCluster == 0 || !mftCluster
        || !recordSizeCode || *recordSizeCode < -16)
        return std::nullopt;
    Layout volume;
    volume.clusterSize = qint64(*sectorSize) * *sectorsPerCluster;
    volume.recordSize = *recordSizeCode > 0 ? *recordSizeCode * volume.clusterSize : qint64(1) << -*recordSizeCode;
    if (volume.recordSize < *sectorSize || volume.recordSize > kMostRead || *mftCluster > (quint64(1) << 48)
        || qMulOverflow(qint64(*mftCluster), volume.clusterSize, &volume.tableOffset))
        return std::nullopt;
    return volume;
}

// File record `number` of the master file table, fixed up; empty where it cannot be read.
QByteArray fileRecord(const FileProbe &files, const QString &device, const Layout &volume, int number)
{
    qint64 offset = 0;
    if (qAddOverflow(volume.tableOffset, number * volume.recordSize, &offset))
        return {};
    QByteArray record = files.read(device, offset, volume.recordSize);
    if (record.size() != volume.recordSize || !record.startsWith("FILE") || !applyFixups(record))
        return {};
    return record;
}

// Where the record's first unnamed attribute of `type`, resident or not, starts.
std::optional<qint64> attribute(const QByteArray &record, quint32 type, bool nonResident)
{
    for (qint64 position = at<quint16>(record, 0x14).value_or(0); position > 0;) {
        const auto found = at<quint32>(record, position);
        const auto length = at<quint32>(record, position + 4);
        if (!found || *found == kEndOfAttributes || !length || *length < 16)
            return std::nullopt;
        if (*found == type && at<quint8>(record, position + 8) == quint8(nonResident) && at<quint8>(record, position + 9) == 0)
            return position;
        position += *length;
    }
    return std::nullopt;
}

std::optional<bool> dirtyFlag(const QByteArray &volumeRecord)
{
    const auto information = attribute(volumeRecord, kVolumeInformation, false);
    const auto contentOffset = information ? at<quint16>(volumeRecord, *information + 0x14) : std::nullopt;
    const auto flags = contentOffset ? at<quint16>(volumeRecord, *information + *contentOffset + 0x0A) : std::nullopt;
    if (!flags)
        return std::nullopt;
    return (*flags & kDirtyFlag) != 0;
}

// A little-endian signed number of 1 to 8 bytes, as the mapping pairs of a runlist hold them.
std::optional<qint64> signedField(const QByteArray &bytes, qint64 offset, int size)
{
    if (size < 1 || size > 8 || offset < 0 || offset + size > bytes.size())
        return std::nullopt;
    quint64 value = 0;
    for (int i = 0; i < size; ++i)
        value |= quint64(quint8(bytes[offset + i])) << (8 * i);
    if (size < 8 && (value >> (8 * size - 1)) != 0)
        value |= ~quint64(0) << (8 * size);
    return qint64(value);
}

// The bytes of the journal's file that its first run keeps together on the device.
struct Extent {
    qint64 offset = 0;
    qint64 length = 0;
};

std::optional<Extent> journalStart(const QByteArray &journalRecord, qint64 clusterSize)
{
    const auto data = attribute(journalRecord, kData, true);
    if (!data || at<qint64>(journalRecord, *data + 0x10) != 0) // not the attribute's first extent
        return std::nullopt;
    const auto pairs = at<quint16>(journalRecord, *data + 0x20);
    const auto size = at<qint64>(journalRecord, *data + 0x30);
    // The first mapping pair: a byte giving the sizes of the two fields that follow, the run's
    // length in clusters and its first cluster (none for a sparse run).
    const auto sizes = pairs ? at<quint8>(journalRecord, *data + *pairs) : std::nullopt;
    if (!size || !sizes)
        return std::nullopt;
    const qint64 lengthAt = *data + *pairs + 1;
    const auto clusters = signedField(journalRecord, lengthAt, *sizes & 0x0F);
    const auto first = signedField(journalRecord, lengthAt + (*sizes & 0x0F), *sizes >> 4);
    Extent journal;
    qint64 end = 0;
    if (!clusters || !first || *clusters <= 0 || *first < 0 || *size < 0
        || qMulOverflow(*first, clusterSize, &journal.offset) || qMulOverflow(*clusters, clusterSize, &journal.length)
        || qAddOverflow(journal.offset, journal.length, &end))
        return std::nullopt;
    journal.length = std::min(journal.length, *size);
    return journal;
}

// A restart page of the journal that holds together: its sequence number, and whether it says
// Windows left the volume open.
struct Restart {
    qint64 sequence = 0;
    bool open = false;
};

// The restart page at `position` in the journal whose first 512 bytes are `block`; nothing where
// it does not hold together.
std::optional<Restart> restartPage(const FileProbe &files, const QString &device, const Extent &journal,
                                   qint64 position, const QByteArray &block)
{
    const bool checked = block.startsWith("CHKD"); // left by chkdsk
    const auto u16 = [](const QByteArray &bytes, qint64 offset) { return at<quint16>(bytes, offset).value_or(0); };
    const quint32 pageSize = at<quint32>(block, 0x10).value_or(0), logPageSize = at<quint32>(block, 0x14).value_or(0);
    const quint16 arrayOffset = u16(block, 4), count = u16(block, 6), areaOffset = u16(block, 0x18);
    const quint16 minor = u16(block, 0x1A), major = u16(block, 0x1C);
    const auto powerOfTwo = [](quint32 size) { return size >= kBlockSize && std::has_single_bit(size); };
    const bool fixedUp = !checked || count != 0; // chkdsk may leave it without an update sequence
    const qint64 arrayEnd = fixedUp ? arrayOffset + 2 * count : 0x1E;
    if (!powerOfTwo(pageSize) || !powerOfTwo(logPageSize) || pageSize > kMostRead || (position != 0 && position != pageSize)
        || position + pageSize > journal.length || !((major == 1 && minor == 1) || (major == 2 && minor == 0))
        || (fixedUp && (count != 1 + pageSize / kBlockSize || arrayOffset < 0x1E || arrayOffset % 2 || arrayEnd > kBlockSize - 2))
        || areaOffset % 8 || areaOffset < arrayEnd || areaOffset > pageSize || (!checked && at<qint64>(block, 8) != 0))
        return std::nullopt;

    // The restart area is checked as read: up to its client array it lies in the first 510 bytes,
    // which no fixup touches.
    const QByteArray page = files.read(device, journal.offset + position, pageSize);
    const quint16 clients = u16(page, areaOffset + 8), freeList = u16(page, areaOffset + 0x0A);
    const quint16 inUse = u16(page, areaOffset + 0x0C), flags = u16(page, areaOffset + 0x0E);
    const quint16 areaLength = u16(page, areaOffset + 0x14), arrayOfClients = u16(page, areaOffset + 0x16);
    const auto fileSize = at<quint64>(page, areaOffset + 0x18);
    const qint64 clientsEnd = arrayOfClients + clients * kClientRecordSize;
    if (page.size() != pageSize || areaOffset + 0x18 > kBlockSize - 2 || arrayOfClients % 8
        || areaOffset + arrayOfClients > kBlockSize - 2 || areaOffset + clientsEnd > pageSize
        || areaOffset + areaLength > pageSize || clientsEnd > areaLength
        || (freeList != kNoClient && freeList >= clients) || (inUse != kNoClient && inUse >= clients) || !fileSize
        || at<quint32>(page, areaOffset + 0x10) != quint32(67 - std::bit_width(*fileSize))
        || u16(page, areaOffset + 0x24) % 8 || u16(page, areaOffset + 0x26) % 8)
        return std::nullopt;
    // A page torn as it was written is still read where its restart area lies before the first
    // fixup, but counts as left open.
    QByteArray whole = page;
    const bool torn = fixedUp && !applyFixups(whole);
    if (torn && areaOffset + areaLength > kBlockSize - 2)
        return std::nullopt;
    // The clients' list of free records, then of those in use: each starts with a record that has
    // none before it, and together they visit no more records than there are.
    if (!checked && inUse != kNoClient) {
        int unvisited = clients;
        for (quint16 index : {freeList, inUse}) {
            for (bool head = true; index != kNoClient; head = false) {
                const qint64 client = areaOffset + arrayOfClients + index * kClientRecordSize;
                if (unvisited-- == 0 || index >= clients || (head && u16(whole, client + 0x10) != kNoClient))
                    return std::nullopt;
                index = u16(whole, client + 0x12);
            }
        }
    }
    // In use by a client and not marked closed cleanly; or in the form Windows writes it when it
    // keeps the volume's metadata in its cache (a shutdown with Fast Startup, or a crash).
    const bool open = torn || (inUse != kNoClient && !(flags & kClosedCleanly)) || major == 2;
    return Restart{at<qint64>(page, checked ? 8 : areaOffset).value_or(0), open};
}

// Whether the journal says Windows left the volume open, from the newer of its two restart pages,
// looked for at the start of the file and at each power of two from 512 bytes on; nothing where
// there is none (an emptied journal) or none that holds together.
std::optional<bool> journalLeftOpen(const FileProbe &files, const QString &device, const Extent &journal)
{
    std::optional<Restart> newest;
    bool written = false;
    for (qint64 position = 0; position <= kMostRead && position + kBlockSize <= journal.length;
         position = position ? 2 * position : kBlockSize) {
        const QByteArray block = files.read(device, journal.offset + position, kBlockSize);
        if (block.size() != kBlockSize)
            return std::nullopt;
        const bool empty = block.startsWith("\xFF\xFF\xFF\xFF");
        if ((empty && written) || block.startsWith("RCRD")) // past the restart pages
            break;
        written = written || !empty;
        if (!block.startsWith("RSTR") && !block.startsWith("CHKD"))
            continue;
        const auto page = restartPage(files, device, journal, position, block);
        if (page && (!newest || page->sequence > newest->sequence))
            newest = page;
        if (page && position != 0)
            break;
    }
    return newest ? std::optional(newest->open) : std::nullopt;
}

} // namespace

std::optional<bool> isMarkedDirty(const FileProbe &files, const QString &device)
{
    const auto volume = layout(files, device);
    if (!volume)
        return std::nullopt;
    const std::optional<bool> dirty = dirtyFlag(fileRecord(files, device, *volume, kVolumeRecord));
    if (dirty == true)
        return true;
    // A journal that cannot be read or understood tells nothing: the flag answers alone.
    const auto journal = journalStart(fileRecord(files, device, *volume, kJournalRecord), volume->clusterSize);
    if (journal && journalLeftOpen(files, device, *journal) == true)
        return true;
    return dirty;
}

} // namespace NtfsVolume
