#pragma once

#include "disks/DiskManager.h"
#include "disks/NTFSDisk.h"
#include "notifications/Notifications.h"
#include "ui/DiskActions.h"

#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>
#include <optional>

class DependencyChecker;
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
// quit. Rebuilt from the application's disk and dependency models on every change, and the
// prerequisites are looked at again each time it opens (the window's setup may have installed
// them); mount and eject outcomes are posted as notifications, with the remedy an error offers
// as the notification's action. A disk whose command runs has its entry greyed out until it ends.
class MenuBarView : public QObject {
    Q_OBJECT

public:
    // `diskActions` are the tray's model pair's: their ends are posted as notifications.
    MenuBarView(DiskManager *diskManager, DependencyChecker *dependencyChecker, DiskActions *diskActions,
                MenuBarActions actions, std::shared_ptr<NotificationService> notifications, QObject *parent = nullptr);
    ~MenuBarView() override;

    QMenu *menu() const { return m_menu.get(); }

private:
    void rebuild();
    void addDiskMenu(const NTFSDisk &disk, bool canMount);
    QAction *addAction(QMenu *menu, const QString &text, std::function<void()> onTriggered);

    void rescan();
    void openMainWindow(bool activate);
    using Command = DiskActions::Command;
    // The outcome's notification, with the remedy the error offers as its action.
    void notify(const DiskActions::Ended &ended);

    QPointer<DiskManager> m_diskManager;
    QPointer<DependencyChecker> m_dependencyChecker;
    QPointer<DiskActions> m_diskActions;
    MenuBarActions m_actions;
    std::shared_ptr<NotificationService> m_notifications;
    std::unique_ptr<QMenu> m_menu;
    // Entries of the current build; they go once the event that replaced them is over.
    QList<QPointer<QObject>> m_entries;
    bool m_drawnCanMount = false; // what the entries show of the prerequisites
};
