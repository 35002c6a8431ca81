#include "shell/FileProbe.h"

#include <QFile>

#include <cerrno>
#include <sys/stat.h>
#include <sys/statvfs.h>

bool SystemFileProbe::exists(const QString &path) const
{
    struct stat st {};
    // stat() follows links, so a dangling link fails here.
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return false;
    return S_ISREG(st.st_mode) || S_ISDIR(st.st_mode);
}

bool SystemFileProbe::isMountPoint(const QString &path) const
{
    const QByteArray native = QFile::encodeName(path);
    struct stat self {};
    if (::lstat(native.constData(), &self) != 0)
        return errno != ENOENT && errno != ENOTDIR;
    // Anything else in the way (a symbolic link such as Debian's /media/cdrom, a file) is taken
    // too: a mount through a link would land wherever it points.
    if (!S_ISDIR(self.st_mode))
        return true;
    struct stat parent {};
    if (::stat((native + "/..").constData(), &parent) != 0)
        return true;
    return self.st_dev != parent.st_dev || self.st_ino == parent.st_ino;
}

bool SystemFileProbe::isWritableMount(const QString &path) const
{
    struct statvfs vfs {};
    if (::statvfs(QFile::encodeName(path).constData(), &vfs) != 0)
        return false;
    return (vfs.f_flag & ST_RDONLY) == 0;
}

bool SystemFileProbe::isDevice(const QString &path) const
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return false;
    return S_ISBLK(st.st_mode) || S_ISCHR(st.st_mode);
}

QByteArray SystemFileProbe::read(const QString &path, qint64 offset, qint64 length) const
{
    QFile file(path);
    // Unbuffered: a device is read at the offset asked for, in one piece.
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered) || !file.seek(offset))
        return {};
    return file.read(length);
}
