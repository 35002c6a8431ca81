#pragma once

#include "notifications/Notifications.h"
#include "disks/NTFSDisk.h"

#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>

class DependencyChecker;
class DiskManager;
class QAction;
class QMenu;

// What the menu asks of the application shell.
struct MenuBarActions {
    // Opens a window scene by identifier (created when closed, brought forward when open).
    std::function<void(const QString &identifier)> openWindow;
    // Makes the application the active one, in front of the others.
    std::function<void()> activateApplication;
    // Ends the application.
    std::function<void()> quitApplication;
};

// The tray item's menu: one submenu per disk (mount or eject), rescan, open the main window,
// quit. Rebuilt from the application's disk and dependency models on every change; mount and
// eject outcomes are posted as notifications. Keeps no state of its own.
class MenuBarView : public QObject {
    Q_OBJECT

public:
    MenuBarView(DiskManager *diskManager, DependencyChecker *dependencyChecker, MenuBarActions actions,
                std::shared_ptr<NotificationService> notifications, QObject *parent = nullptr);
    ~MenuBarView() override;

    QMenu *menu() const { return m_menu.get(); }

private:
    void rebuild();
    void addDiskMenu(const NTFSDisk &disk, bool canMount);
    QAction *addAction(QMenu *menu, const QString &text, std::function<void()> onTriggered);

    void rescan();
    void openMainWindow(bool activate);
    void mount(const NTFSDisk &disk);
    void eject(const NTFSDisk &disk);

    QPointer<DiskManager> m_diskManager;
    QPointer<DependencyChecker> m_dependencyChecker;
    MenuBarActions m_actions;
    std::shared_ptr<NotificationService> m_notifications;
    std::unique_ptr<QMenu> m_menu;
    // Entries of the current build; they go once the event that replaced them is over.
    QList<QPointer<QObject>> m_entries;
};
