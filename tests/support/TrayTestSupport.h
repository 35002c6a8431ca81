#pragma once

// What the application and tray menu tests share: the scripted Mac (it serves the application's
// models too), disk records for it, recorded notifications and menu helpers.
#include "disks/DiskManager.h"
#include "notifications/Notifications.h"
#include "support/ScriptedMachine.h"
#include "support/TestSupport.h"

#include <QAction>
#include <QMenu>

#include <gtest/gtest.h>

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

// Waits until a scan ran since the runner's calls were last cleared, and ended.
inline void waitForScan(const ScriptedMachine &machine, const DiskManager *disks)
{
    ASSERT_TRUE(testsupport::processEventsUntil(
        [&] { return !machine.runner->calls().isEmpty() && !disks->isScanning(); }));
}

inline void trigger(const QMenu *menu, const QString &text)
{
    for (QAction *action : menu->actions())
        if (action->iconText() == text) // the text without mnemonic markers
            return action->trigger();
    FAIL() << "no entry " << text.toStdString();
}
