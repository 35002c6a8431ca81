#pragma once

// Where a view asks for a mount or an unmount of a disk and hears how it ended: one per model
// pair, shared by whatever presents that pair (the window's cards; the tray's menu and the
// notification offered when a disk arrives). It keeps which disks have a command running, asks the
// prerequisites for the ntfs-3g path a mount needs, runs the command on the disk model, and hands
// the end to the view with the remedy the error offers, ready to run. The views only present.
#include "disks/DiskError.h"
#include "disks/DiskManager.h"
#include "disks/NTFSDisk.h"

#include <QObject>
#include <QPointer>
#include <QSet>

#include <functional>
#include <optional>

class DependencyChecker;

class DiskActions : public QObject {
    Q_OBJECT

public:
    using Command = DiskManager::Operation;

    // How a command ended. `remedy` runs what the error offers (a read-only mount, or the same
    // command again) on the disk as it is listed then; empty where the error offers nothing.
    struct Ended {
        NTFSDisk disk;
        Command command;
        std::optional<DiskError> error;
        std::function<void()> remedy;
    };

    DiskActions(DiskManager *diskManager, DependencyChecker *dependencyChecker, QObject *parent = nullptr);

    // Told of every end, and of a mount asked for while no ntfs-3g path is known.
    void setOnEnded(std::function<void(const Ended &)> onEnded) { m_onEnded = std::move(onEnded); }
    void setOnNoNtfs3g(std::function<void()> onNoNtfs3g) { m_onNoNtfs3g = std::move(onNoNtfs3g); }

    // Runs `command` on `disk` and returns at once; a mount needs a known ntfs-3g path. Each disk
    // has one command at a time: another for a disk whose command still runs is ignored.
    void run(const NTFSDisk &disk, Command command);
    // The end of `command` on `disk` with `error`, with its remedy attached.
    Ended ended(const NTFSDisk &disk, Command command, const std::optional<DiskError> &error);

    bool isRunning(const QString &deviceNode) const { return m_running.contains(deviceNode); }
    bool isRunning() const { return !m_running.isEmpty(); }

Q_SIGNALS:
    // A command started or ended on some disk.
    void runningChanged();

private:
    void setRunning(const QString &deviceNode, bool running);

    QPointer<DiskManager> m_diskManager;
    QPointer<DependencyChecker> m_dependencyChecker;
    std::function<void(const Ended &)> m_onEnded;
    std::function<void()> m_onNoNtfs3g;
    QSet<QString> m_running;
};
