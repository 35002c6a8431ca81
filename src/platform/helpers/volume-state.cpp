// volume-state DEVICE: whether Windows left the NTFS volume on DEVICE marked dirty or its journal
// open, read with administrator rights for an ordinary user's session, which may not read raw
// disks. pkexec runs it as root (its polkit action lets an active desktop user do so without a
// password), so it takes nothing from its environment, reads nothing but the one block device it
// is named, and writes nothing.
//
//   standard output "clean" or "dirty" and a newline, exit status 0: the volume's state
//   one line on standard error, exit status 2: the state cannot be told (no block device there,
//     unreadable, no NTFS this reading understands)
//   exit status 64: not one argument of the form /dev/NAME
#include "disks/NtfsVolume.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kCannotTell = 2;
constexpr int kUsage = 64; // EX_USAGE

// Reads the device it was opened on, whatever path it is asked about; the reading asks nothing else.
class OpenDeviceProbe final : public FileProbe {
public:
    explicit OpenDeviceProbe(int fd) : m_fd(fd) {}
    bool exists(const QString &) const override { return false; }
    bool isMountPoint(const QString &) const override { return false; }
    bool isWritableMount(const QString &) const override { return false; }
    bool isDevice(const QString &) const override { return true; }
    QByteArray read(const QString &, qint64 offset, qint64 length) const override
    {
        QByteArray bytes(length, Qt::Uninitialized);
        qint64 got = 0;
        while (got < length) {
            const ssize_t n = ::pread(m_fd, bytes.data() + got, size_t(length - got), off_t(offset + got));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            got += n;
        }
        bytes.truncate(got);
        return bytes;
    }

private:
    int m_fd;
};

int cannotTell(const char *device, const char *why)
{
    std::fprintf(stderr, "volume-state: %s: %s\n", device, why);
    return kCannotTell;
}

// "/dev/" and one name: nothing in a subdirectory, no "." or "..".
bool isNodeDirectlyUnderDev(std::string_view path)
{
    constexpr std::string_view dev = "/dev/";
    const std::string_view name = path.substr(std::min(path.size(), dev.size()));
    return path.starts_with(dev) && !name.empty() && name != "." && name != ".." && name.find('/') == name.npos;
}

} // namespace

int main(int argc, char **argv)
{
    ::clearenv();
    if (argc != 2 || !isNodeDirectlyUnderDev(argv[1])) {
        std::fputs("usage: volume-state /dev/NAME (a block device directly under /dev)\n", stderr);
        return kUsage;
    }
    const char *device = argv[1];
    // Looked at before it is opened: opening some other kinds of node does something (a FIFO
    // waits, a tape rewinds as it closes). Looked at again once open, in case it was swapped.
    // O_NONBLOCK keeps an optical drive from closing its tray to be opened.
    struct stat named {};
    if (::lstat(device, &named) != 0)
        return cannotTell(device, std::strerror(errno));
    if (!S_ISBLK(named.st_mode))
        return cannotTell(device, "not a block device");
    const int fd = ::open(device, O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return cannotTell(device, std::strerror(errno));
    struct stat opened {};
    if (::fstat(fd, &opened) != 0 || !S_ISBLK(opened.st_mode) || opened.st_rdev != named.st_rdev
        || opened.st_ino != named.st_ino || ::fcntl(fd, F_SETFL, O_RDONLY) != 0)
        return cannotTell(device, "not the block device it was a moment ago");
    const std::optional<bool> dirty = NtfsVolume::isMarkedDirty(OpenDeviceProbe(fd), QString::fromUtf8(device));
    ::close(fd);
    if (!dirty)
        return cannotTell(device, "no NTFS volume whose $Volume record could be read");
    std::puts(*dirty ? "dirty" : "clean");
    return std::fflush(stdout) == 0 ? 0 : cannotTell(device, "cannot write the answer");
}
