#pragma once

// A scripted Mac for the application's models: the disk utility lists and details the disks
// given here (the mount state comes from their details), and the prerequisite paths exist as set.
#include "disks/PlistFixtures.h"
#include "shell/ModelEnvironment.h"
#include "support/ScriptedFileProbe.h"
#include "support/ScriptedRunner.h"

#include <QMutex>

class ScriptedMachine {
public:
    ScriptedMachine()
    {
        runner->setHandler([state = m_state](const ScriptedRunner::Call &call) { return state->answer(call); });
        setDependencies(true, true);
    }

    std::shared_ptr<ScriptedRunner> runner = std::make_shared<ScriptedRunner>();
    std::shared_ptr<ScriptedFileProbe> files = std::make_shared<ScriptedFileProbe>();

    ModelEnvironment environment() const { return {Platform::macOS(), runner, files}; }

    // What the next scan finds.
    void setDisks(const QList<NTFSDisk> &disks)
    {
        QMutexLocker lock(&m_state->mutex);
        m_state->disks = disks;
    }
    // Which prerequisites the next dependency check finds.
    void setDependencies(bool fuseT, bool ntfs3g)
    {
        files->existing.clear();
        if (fuseT)
            files->existing.insert(QStringLiteral("/usr/local/bin/fuse-t"));
        if (ntfs3g)
            files->existing.insert(ntfs3gPath());
    }
    static QString ntfs3gPath() { return QStringLiteral("/opt/homebrew/bin/ntfs-3g"); }
    static QString unmountLine(const QString &node) { return "/usr/sbin/diskutil unmount /dev/" + node; }

private:
    struct State {
        QMutex mutex;
        QList<NTFSDisk> disks;

        std::optional<ShellResult> answer(const ScriptedRunner::Call &call)
        {
            using namespace fixtures;
            QMutexLocker lock(&mutex);
            if (call.line == QLatin1String("/usr/sbin/diskutil list -plist")) {
                QStringList entries;
                for (const NTFSDisk &disk : disks)
                    entries << dict({{"Content", str("Windows_NTFS")}, {"DeviceIdentifier", str(disk.deviceNode)},
                                     {"Size", integer(disk.size)}});
                return ScriptedRunner::ok(QString::fromUtf8(listing(entries)));
            }
            for (const NTFSDisk &disk : disks) {
                if (call.line != "/usr/sbin/diskutil info -plist " + disk.deviceNode)
                    continue;
                QString entries = "<key>VolumeName</key>" + str(disk.volumeName) + "<key>FilesystemType</key>"
                    + str("ntfs") + "<key>Writable</key>" + boolean(disk.isWritable);
                if (disk.mountPoint)
                    entries += "<key>MountPoint</key>" + str(*disk.mountPoint);
                return ScriptedRunner::ok(QString::fromUtf8(plist("<dict>" + entries + "</dict>")));
            }
            if (call.line == QLatin1String("/sbin/mount "))
                return ScriptedRunner::ok(QString());
            return std::nullopt;
        }
    };
    std::shared_ptr<State> m_state = std::make_shared<State>();
};

// Disk records as the scripted machine reports them.
inline NTFSDisk readOnlyDisk(const QString &node, const QString &name)
{
    return {node, name, 64000000000, "/Volumes/" + name, false, "ntfs"};
}
inline NTFSDisk writableDisk(const QString &node, const QString &name)
{
    return {node, name, 64000000000, "/Volumes/" + name, true, "ntfs"};
}
inline NTFSDisk unmountedDisk(const QString &node, const QString &name)
{
    return {node, name, 64000000000, std::nullopt, false, "ntfs"};
}
