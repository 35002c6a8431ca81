#pragma once

#include "app/WindowScene.h"
#include "disks/NTFSDisk.h"
#include "notifications/Notifications.h"
#include "shell/ModelEnvironment.h"
#include "ui/menu_bar/StatusLabel.h"

#include <QObject>

#include <memory>

class DependencyChecker;
class DiskActions;
class DiskManager;
class MenuBarView;
class QSystemTrayIcon;

// The application object: asks once for notification permission, owns the disk and dependency
// models that serve the tray item, and sets up the two scenes, the main window (opened at
// start) and the tray item with its menu. Its disk model is the one that tells of a mounted disk
// pulled out, and offers to mount a disk that arrives and cannot be written to (the window's own
// model sees the same and says nothing).
class QuorvelNTFSMountApp : public QObject {
    Q_OBJECT

public:
    QuorvelNTFSMountApp(std::shared_ptr<NotificationService> notifications, const ModelEnvironment &environment,
                        WindowScene::ContentFactory makeMainWindowContent, QObject *parent = nullptr);
    ~QuorvelNTFSMountApp() override;

    DiskManager *diskManager() const { return m_diskManager; }
    DependencyChecker *dependencyChecker() const { return m_dependencyChecker; }
    MenuBarView *menuBar() const { return m_menuBar; }
    QSystemTrayIcon *trayIcon() const { return m_trayIcon; }
    WindowScene *mainWindow() const { return m_mainWindow; }
    const StatusLabel &statusLabel() const { return m_statusLabel; }

    // Opens the scene with this identifier; other identifiers are ignored.
    void openWindow(const QString &identifier);
    // Brings the application, that is its main window, in front of the others.
    void activate();

private:
    void installTrayItem();
    // Tells of a mounted disk that went without an unmount, once: in the main window while it is
    // on screen, else in a notification.
    void reportRemoval(const NTFSDisk &disk);
    void updateStatusLabel();
    // Offers, in a notification, to mount a disk that arrived and cannot be written to.
    void offerMount(const NTFSDisk &disk);

    std::shared_ptr<NotificationService> m_notifications;
    DiskManager *m_diskManager = nullptr;
    DependencyChecker *m_dependencyChecker = nullptr;
    DiskActions *m_diskActions = nullptr;
    MenuBarView *m_menuBar = nullptr;
    QSystemTrayIcon *m_trayIcon = nullptr;
    WindowScene *m_mainWindow = nullptr;
    StatusLabel m_statusLabel;
};
