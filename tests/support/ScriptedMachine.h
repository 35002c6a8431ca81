#pragma once

// A scripted macOS machine for the window's and the tray's tests (and the window's gallery): the
// disks the disk utility lists, their mount state, and which prerequisites exist.
#include "disks/NTFSDisk.h"
#include "shell/ModelEnvironment.h"
#include "support/PlistFixtures.h"
#include "support/ScriptedFileProbe.h"
#include "support/ScriptedRunner.h"

#include <QHash>
#include <QList>
#include <QMutex>

#include <memory>
#include <optional>

namespace testsupport {

inline const QString kHomebrew = QStringLiteral("/opt/homebrew/bin/brew");
inline const QString kFuseT = QStringLiteral("/Library/Filesystems/fuse-t.fs");
inline const QString kNtfs3g = QStringLiteral("/opt/homebrew/bin/ntfs-3g");
inline const QString kListLine = QStringLiteral("/usr/sbin/diskutil list -plist");

struct ScriptedMachine {
    std::shared_ptr<ScriptedRunner> runner = std::make_shared<ScriptedRunner>();
    std::shared_ptr<ScriptedFileProbe> files = std::make_shared<ScriptedFileProbe>();

    ScriptedMachine()
    {
        // The disk utility and the mount table answer from the current scripted disks (the
        // runner's handler is asked first, also from the scan's background thread).
        runner->setHandler([state = m_state](const ScriptedRunner::Call &call) -> std::optional<ShellResult> {
            QMutexLocker lock(&state->mutex);
            const auto answer = state->answers.constFind(call.line);
            if (answer == state->answers.constEnd())
                return std::nullopt;
            return ScriptedRunner::ok(*answer);
        });
        setDisks({});
    }

    ModelEnvironment environment() const { return {Platform::macOS(), runner, files, std::nullopt}; }

    // The disk utility lists these partitions with their names; the mount table carries the
    // mounted ones (read-only or writable as the record says).
    void setDisks(const QList<NTFSDisk> &disks)
    {
        using namespace fixtures;
        QHash<QString, QString> answers;
        QStringList entries;
        QString mountTable = QStringLiteral("/dev/disk1s1 on / (apfs, local, read-only, journaled)\n");
        for (const NTFSDisk &disk : disks) {
            entries << partition(disk.deviceNode, disk.size, QStringLiteral("Windows_NTFS"));
            answers.insert(QStringLiteral("/usr/sbin/diskutil info -plist ") + disk.deviceNode,
                           QString::fromUtf8(detail({{QStringLiteral("VolumeName"), str(disk.volumeName)},
                                                     {QStringLiteral("FilesystemType"), str(QStringLiteral("ntfs"))}})));
            if (disk.mountPoint)
                mountTable += QStringLiteral("/dev/") + disk.deviceNode + QStringLiteral(" on ") + *disk.mountPoint
                              + (disk.isWritable ? QStringLiteral(" (ntfs, local, nodev, nosuid)\n")
                                                 : QStringLiteral(" (ntfs, local, nodev, nosuid, read-only)\n"));
        }
        answers.insert(kListLine, QString::fromUtf8(listing(entries)));
        answers.insert(QStringLiteral("/sbin/mount "), mountTable);
        QMutexLocker lock(&m_state->mutex);
        m_state->answers = answers;
    }

    void setPrerequisites(bool homebrew, bool fuseT, bool ntfs3g)
    {
        for (const auto &[path, present] : {std::pair{kHomebrew, homebrew}, {kFuseT, fuseT}, {kNtfs3g, ntfs3g}}) {
            if (present)
                files->existing.insert(path);
            else
                files->existing.remove(path);
        }
    }

private:
    struct State {
        QMutex mutex;
        QHash<QString, QString> answers;
    };
    std::shared_ptr<State> m_state = std::make_shared<State>();
};

} // namespace testsupport
