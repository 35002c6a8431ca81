#include "ui/DiskActions.h"

#include "dependencies/DependencyChecker.h"

#include <QCoro/QCoroTask>
#include <QTimer>

DiskActions::DiskActions(DiskManager *diskManager, DependencyChecker *dependencyChecker, QObject *parent)
    : QObject(parent)
    , m_diskManager(diskManager)
    , m_dependencyChecker(dependencyChecker)
{
}

void DiskActions::run(const NTFSDisk &disk, Command command)
{
    if (!m_diskManager || isRunning(disk.deviceNode))
        return;
    QString ntfs3gPath;
    if (command != Command::Unmount) {
        const std::optional<QString> path =
            m_dependencyChecker ? m_dependencyChecker->status().ntfs3gPath : std::nullopt;
        if (!path) {
            if (m_onNoNtfs3g)
                m_onNoNtfs3g();
            return;
        }
        ntfs3gPath = *path;
    }
    setRunning(disk.deviceNode, true);
    // Started from the event loop, with the disk as it was asked for and the path read above, so
    // that whatever asked has returned first.
    QTimer::singleShot(0, this, [this, disk, command, ntfs3gPath] {
        if (!m_diskManager) {
            setRunning(disk.deviceNode, false);
            return;
        }
        QCoro::connect(m_diskManager->perform(command, disk, ntfs3gPath), this,
                       [this, disk, command](const std::optional<DiskError> &error) {
            setRunning(disk.deviceNode, false);
            if (m_onEnded)
                m_onEnded(ended(disk, command, error));
        });
    });
}

DiskActions::Ended DiskActions::ended(const NTFSDisk &disk, Command command, const std::optional<DiskError> &error)
{
    Ended end{disk, command, error, {}};
    if (error && error->remedy != DiskError::Remedy::None) {
        const Command remedy = DiskManager::remedyOf(command, error->remedy);
        end.remedy = [self = QPointer(this), disk, remedy] {
            if (self && self->m_diskManager)
                self->run(self->m_diskManager->listed(disk), remedy);
        };
    }
    return end;
}

void DiskActions::setRunning(const QString &deviceNode, bool running)
{
    if (running)
        m_running.insert(deviceNode);
    else
        m_running.remove(deviceNode);
    Q_EMIT runningChanged();
}
