#pragma once

#include <QString>

// Why a mount or an unmount failed. Callers show `description` unchanged.
struct DiskError {
    enum Code {
        UnmountReadOnlyFailed = 1,  // the system's read-only mount could not be removed
        CreateDirectoryFailed = 2,  // the mount directory could not be created
        MountFailed = 3,            // ntfs-3g failed, or mounted read-only
        UnmountFailed = 4,          // the unmount command failed
    };

    int code = 0;
    QString description;

    static QString domain() { return QStringLiteral("DiskManager"); }
    friend bool operator==(const DiskError &, const DiskError &) = default;
};
