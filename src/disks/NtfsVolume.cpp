#include "disks/NtfsVolume.h"

#include <QtEndian>
#include <QtNumeric>

namespace NtfsVolume {
namespace {

constexpr qint64 kBootSectorSize = 512;
constexpr qint64 kBlockSize = 512; // the stride of the update sequence, whatever the sector size
constexpr int kVolumeRecord = 3;             // $Volume is the fourth file of the master file table
constexpr quint32 kVolumeInformation = 0x70; // its $VOLUME_INFORMATION attribute
constexpr quint32 kEndOfAttributes = 0xFFFFFFFF;
constexpr quint16 kDirtyFlag = 0x0001;

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

} // namespace

std::optional<bool> isMarkedDirty(const FileProbe &files, const QString &device)
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
    const qint64 clusterSize = qint64(*sectorSize) * *sectorsPerCluster;
    const qint64 recordSize = *recordSizeCode > 0 ? *recordSizeCode * clusterSize : qint64(1) << -*recordSizeCode;
    qint64 recordOffset = 0;
    if (recordSize < *sectorSize || recordSize > 65536 || *mftCluster > (quint64(1) << 48)
        || qMulOverflow(qint64(*mftCluster), clusterSize, &recordOffset)
        || qAddOverflow(recordOffset, kVolumeRecord * recordSize, &recordOffset))
        return std::nullopt;

    QByteArray record = files.read(device, recordOffset, recordSize);
    if (record.size() != recordSize || !record.startsWith("FILE") || !applyFixups(record))
        return std::nullopt;
    auto offset = at<quint16>(record, 0x14);
    for (qint64 position = offset.value_or(0); position > 0;) {
        const auto type = at<quint32>(record, position);
        const auto length = at<quint32>(record, position + 4);
        if (!type || *type == kEndOfAttributes || !length || *length < 16)
            return std::nullopt;
        const auto nonResident = at<quint8>(record, position + 8);
        if (*type == kVolumeInformation && nonResident == 0) {
            const auto contentOffset = at<quint16>(record, position + 0x14);
            const auto flags = contentOffset ? at<quint16>(record, position + *contentOffset + 0x0A) : std::nullopt;
            if (!flags)
                return std::nullopt;
            return (*flags & kDirtyFlag) != 0;
        }
        position += *length;
    }
    return std::nullopt;
}

} // namespace NtfsVolume
