// The dirty-flag reader on a device image: the boot sector, then the $Volume record wherever the
// boot sector says it is.
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
        // Whatever the image says, the reader asks for no more than one record of at most 64 KiB,
        // and nothing before the start of the device.
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
