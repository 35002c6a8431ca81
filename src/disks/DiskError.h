#pragma once

#include <QString>

#include <utility>

// Why a mount or an unmount failed. Callers show `description` unchanged, followed by
// `explanation` where there is one, and offer the `remedy`.
struct DiskError {
    enum class Code {
        UnmountReadOnlyFailed = 1,  // the system's read-only mount could not be removed
        CreateDirectoryFailed = 2,  // the mount directory could not be created
        MountFailed = 3,            // ntfs-3g failed, or mounted read-only
        UnmountFailed = 4,          // the unmount command failed
    };
    // DiskError::MountFailed reads as well as DiskError::Code::MountFailed.
    using enum Code;

    // What the user can do about it from the same alert.
    enum class Remedy {
        None,
        MountReadOnly,  // the volume can still be mounted read-only
        Retry,          // the same operation may succeed once the user has done what the explanation says
    };

    DiskError() = default;
    DiskError(Code code, QString description, QString explanation = {}, Remedy remedy = Remedy::None)
        : code(code), description(std::move(description)), explanation(std::move(explanation)), remedy(remedy)
    {
    }

    Code code{};
    QString description;
    // In the application's own words: what happened and what to do. Empty where the description
    // is all there is to say.
    QString explanation;
    Remedy remedy = Remedy::None;

    static QString domain() { return QStringLiteral("DiskManager"); }
    friend bool operator==(const DiskError &, const DiskError &) = default;
};
