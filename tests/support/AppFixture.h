#pragma once

// The application on a scripted Mac, for the window's, the tray menu's and the application's
// tests: disk records for it, alerts and notifications as data, menu helpers, and the
// application itself with its main window's content at hand.
#include "app/QuorvelNTFSMountApp.h"
#include "dependencies/DependencyChecker.h"
#include "disks/DiskManager.h"
#include "notifications/Notifications.h"
#include "support/ScriptedMachine.h"
#include "support/TestSupport.h"
#include "ui/main_window/AlertPresenter.h"
#include "ui/main_window/ContentView.h"
#include "ui/main_window/DependencyWarningView.h"
#include "ui/menu_bar/MenuBarView.h"

#include <QAction>
#include <QMenu>
#include <QPointer>

#include <gtest/gtest.h>

using testsupport::processEventsUntil;
using testsupport::ScriptedMachine;

inline NTFSDisk disk(const QString &node, const QString &name, bool mounted = true, bool writable = false)
{
    return {node, name, 64000000000, mounted ? std::optional("/Volumes/" + name) : std::nullopt, writable, "ntfs"};
}
inline NTFSDisk readOnlyDisk(const QString &node, const QString &name) { return disk(node, name); }
inline NTFSDisk writableDisk(const QString &node, const QString &name) { return disk(node, name, true, true); }

const QString kMountEntry = "読み書きマウント", kEjectEntry = "安全に取り出す (Unmount)", kRescanEntry = "ディスクを再スキャン";

// Records what would have been shown, as "title / body", and " [label]" for an action.
struct RecordingNotifications : NotificationService {
    QStringList sent;
    std::optional<Action> lastAction;
    void requestNotificationAuthorization() override {}
    void sendNotification(const QString &title, const QString &body, std::optional<Action> action) override
    {
        sent << title + " / " + body + (action ? " [" + action->label + "]" : QString());
        lastAction = std::move(action);
    }
};

// Alerts as data: what was presented, and a way to press one of its buttons.
struct RecordingPresenter : AlertPresenter {
    QList<Alert> presented;
    std::optional<Alert> open;

    void present(QWidget *, const Alert &alert) override { presented.append(alert), open = alert; }
    // Closes the open alert with the button labelled `text`, then runs its action.
    bool choose(const QString &text)
    {
        for (const Alert::Button &button : open ? open->buttons : QList<Alert::Button>()) {
            if (button.text != text)
                continue;
            open.reset();
            if (button.action)
                button.action();
            return true;
        }
        return false;
    }
};

// Waits until a scan ran since the runner's calls were last cleared, and ended.
inline void waitForScan(const ScriptedMachine &machine, const DiskManager *disks)
{
    ASSERT_TRUE(processEventsUntil([&] { return !machine.runner->calls().isEmpty() && !disks->isScanning(); }));
}

inline void trigger(const QMenu *menu, const QString &text)
{
    for (QAction *action : menu->actions())
        if (action->iconText() == text) // the text without mnemonic markers
            return action->trigger();
    FAIL() << "no entry " << text.toStdString();
}

inline void deliverDeferredDeletes()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
}

struct AppFixture : ::testing::Test {
    ScriptedMachine machine;
    std::shared_ptr<RecordingNotifications> notifications = std::make_shared<RecordingNotifications>();
    std::shared_ptr<RecordingPresenter> presenter = std::make_shared<RecordingPresenter>();
    QList<QPointer<ContentView>> contents; // each main window's content, alerts recorded
    std::unique_ptr<QuorvelNTFSMountApp> app;

    void SetUp() override { DependencyWarningView::setAnimationDuration(0); } // the panel opens at once
    // The application on a machine with `disks`, once the first scans of the tray's and the main
    // window's models have ended.
    void start(const QList<NTFSDisk> &disks, bool ntfs3g = true)
    {
        machine.setPrerequisites(true, true, ntfs3g);
        machine.setDisks(disks);
        app = std::make_unique<QuorvelNTFSMountApp>(notifications, machine.environment(), [this] {
            contents << new ContentView(machine.environment());
            contents.last()->setAlertPresenter(presenter);
            return contents.last().data();
        });
        waitForScan(machine, app->diskManager());
        ASSERT_TRUE(processEventsUntil([&] {
            return view()->rows().size() == disks.size() && idle() && view()->dependencyChecker()->isChecked()
                && app->dependencyChecker()->isChecked();
        }));
    }
    void TearDown() override
    {
        app.reset();
        deliverDeferredDeletes();
    }
    ContentView *view() const { return contents.last(); }
    bool idle() const { return !view()->diskManager()->isScanning(); }
    void rescan()
    {
        machine.runner->clearCalls();
        trigger(menu(), kRescanEntry);
        waitForScan(machine, app->diskManager());
    }
    QMenu *menu() const { return app->menuBar()->menu(); }
    QMenu *submenu(int index) const { return menu()->actions().at(index)->menu(); }
};
