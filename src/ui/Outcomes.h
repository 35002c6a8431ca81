#pragma once

// What the user is told when a mount or an unmount ends: the main window's alert and the tray
// menu's notification. The two were worded apart and stay so; each title and message is written
// once, here. A failure's own description and the explanation that follows it come with the
// error (FailureAdvice, and DiskManager for a disk whose command is already under way).
#include "disks/DiskError.h"
#include "disks/NTFSDisk.h"

#include <QString>

#include <optional>

struct Outcome {
    QString title;
    QString message;
};

namespace Outcomes {

// The main window's alerts.
Outcome windowMount(const NTFSDisk &disk, const std::optional<DiskError> &error);
Outcome windowMountReadOnly(const NTFSDisk &disk, const std::optional<DiskError> &error);
Outcome windowUnmount(const NTFSDisk &disk, const std::optional<DiskError> &error);
// A mount asked for before ntfs-3g was found.
Outcome windowNoNtfs3g();

// The tray menu's notifications.
Outcome menuMount(const NTFSDisk &disk, const std::optional<DiskError> &error);
Outcome menuMountReadOnly(const NTFSDisk &disk, const std::optional<DiskError> &error);
Outcome menuEject(const NTFSDisk &disk, const std::optional<DiskError> &error);

// A mounted disk went without being unmounted: the window's alert and the tray's notification alike.
Outcome removedWhileMounted(const NTFSDisk &disk);

// An NTFS disk the system did not mount writable was attached: the tray's offer, and the label of
// its action, the menu's own mount entry.
Outcome arrived(const NTFSDisk &disk);
QString mountReadWriteLabel();

// The button (alert) or action (notification) that applies `remedy`; empty for none.
QString remedyLabel(DiskError::Remedy remedy);

} // namespace Outcomes
