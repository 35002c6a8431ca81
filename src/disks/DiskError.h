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

    // What is known of why, as the tools said it in their status (never guessed from their words,
    // except ntfs-3g's own account of a read-only volume).
    enum class Cause {
        Unknown,
        Cancelled,       // the administrator prompt was dismissed
        NotAuthorised,   // the system refused the rights the step needs
        Busy,            // programs hold the volume
        Gone,            // the disk is no longer attached
        InProgress,      // another mount or unmount of the same disk is under way
        WrongDriver,     // the system mounted the volume, but not with ntfs-3g
        ReadOnly,        // ntfs-3g could mount the volume only read-only, for a reason it did not give
        Unclean,         // Windows did not close the volume cleanly (its dirty flag, or its journal)
        Hibernated,      // Windows hibernated, or shut down with Fast Startup: the volume is still in use
    };

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
    Cause cause = Cause::Unknown;

    friend bool operator==(const DiskError &, const DiskError &) = default;
};
