#pragma once

#include <QString>

// Why a mount or an unmount failed. Callers show `description` unchanged.
struct DiskError {
    enum class Code {
        UnmountReadOnlyFailed = 1,  // the system's read-only mount could not be removed
        CreateDirectoryFailed = 2,  // the mount directory could not be created
        MountFailed = 3,            // ntfs-3g failed, or mounted read-only
        UnmountFailed = 4,          // the unmount command failed
    };
    // DiskError::MountFailed reads as well as DiskError::Code::MountFailed.
    using enum Code;

    Code code{};
    QString description;

    static QString domain() { return QStringLiteral("DiskManager"); }
    friend bool operator==(const DiskError &, const DiskError &) = default;
};
