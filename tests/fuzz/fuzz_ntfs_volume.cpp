// The reader of whether Windows left a volume unclean, on a device image: the boot sector, then the
// $Volume and $LogFile records wherever it says they are, then the journal's restart pages
// wherever $LogFile's runlist says it starts.
#include "disks/NtfsVolume.h"

#include <cstdint>
#include <cstdlib>

namespace {

// The fuzzer's bytes as the only device there is.
struct ImageProbe final : FileProbe {
    QByteArray image;

    bool exists(const QString &) const override { return false; }
    bool isMountPoint(const QString &) const override { return false; }
    bool isWritableMount(const QString &) const override { return false; }
    bool isDevice(const QString &) const override { return true; }
    QByteArray read(const QString &, qint64 offset, qint64 length) const override
    {
        // Whatever the image says, the reader asks for no more than one record or restart page of
        // at most 64 KiB at a time, and nothing before the start of the device.
        if (offset < 0 || length < 0 || length > 65536)
            std::abort();
        return image.mid(offset, length);
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    ImageProbe probe;
    probe.image = QByteArray(reinterpret_cast<const char *>(data), qsizetype(size));
    NtfsVolume::isMarkedDirty(probe, QStringLiteral("/dev/sdz1"));
    return 0;
}
