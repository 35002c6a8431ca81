#pragma once

#include <QByteArray>
#include <QString>

// File-system questions the models ask, behind a seam so tests can script the answers.
class FileProbe {
public:
    virtual ~FileProbe() = default;

    // A regular file or a directory exists at `path`; a symbolic link counts only when its
    // target exists. A path that cannot be examined counts as absent.
    virtual bool exists(const QString &path) const = 0;

    // `path` is taken for a mount: the root of a mounted file system, a symbolic link or anything
    // else that is not a directory, or a path that cannot be examined (a stale FUSE mount answers
    // with an error). Absent is free.
    virtual bool isMountPoint(const QString &path) const = 0;

    // The file system mounted at `path` accepts writes.
    virtual bool isWritableMount(const QString &path) const = 0;

    // A block or character device exists at `path`.
    virtual bool isDevice(const QString &path) const = 0;

    // Up to `length` bytes of the file or device at `path` from `offset`; empty where it cannot
    // be read (absent, or not readable by this user).
    virtual QByteArray read(const QString &path, qint64 offset, qint64 length) const = 0;
};

// The real file system.
class SystemFileProbe final : public FileProbe {
public:
    bool exists(const QString &path) const override;
    bool isMountPoint(const QString &path) const override;
    bool isWritableMount(const QString &path) const override;
    bool isDevice(const QString &path) const override;
    QByteArray read(const QString &path, qint64 offset, qint64 length) const override;
};
