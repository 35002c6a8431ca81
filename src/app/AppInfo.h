#pragma once

#include <QString>

// Names the application shows and answers to.
namespace AppInfo {

// The application's name, the main window's title and the sender of its notifications.
inline QString title() { return QStringLiteral("Quorvel NTFS Mount"); }
// The executable's and the settings' name.
inline QString executableName() { return QStringLiteral("quorvel-ntfs-mount"); }
// The identifier by which the menu opens the main window.
inline QString mainWindowIdentifier() { return QStringLiteral("main-window"); }
// The application's icon as a desktop icon-theme name (the optical drive the tray shows).
inline QString iconThemeName() { return QStringLiteral("drive-optical"); }

} // namespace AppInfo
