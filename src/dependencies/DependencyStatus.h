#pragma once

#include <QMetaType>
#include <QString>

#include <optional>

// Which of the outside tools the last check found. Copied by value, never shared.
struct DependencyStatus {
    bool isHomebrewInstalled = false;
    bool isFuseTInstalled = false;
    std::optional<QString> ntfs3gPath; // the first ntfs-3g executable found, as listed in the profile

    // Everything a read-write mount needs: the FUSE layer and ntfs-3g. Homebrew only installs them.
    bool isAllInstalled() const { return isFuseTInstalled && ntfs3gPath.has_value(); }

    friend bool operator==(const DependencyStatus &, const DependencyStatus &) = default;
};

Q_DECLARE_METATYPE(DependencyStatus)
