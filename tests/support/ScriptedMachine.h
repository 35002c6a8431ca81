#pragma once

// A scripted macOS machine for the window's and the tray's tests (and the window's gallery): the
// disks the disk utility lists, their mount state, and which prerequisites exist. Its answers
// are the runner's exact ones, so a test's own handler is asked first.
#include "disks/NTFSDisk.h"
#include "shell/ModelEnvironment.h"
#include "support/PlistFixtures.h"
#include "support/ScriptedFileProbe.h"
#include "support/ScriptedRunner.h"

#include <QTemporaryDir>

#include <memory>

namespace testsupport {

inline const QString kNtfs3g = QStringLiteral("/opt/homebrew/bin/ntfs-3g");

struct ScriptedMachine {
    std::shared_ptr<ScriptedRunner> runner = std::make_shared<ScriptedRunner>();
    std::shared_ptr<ScriptedFileProbe> files = std::make_shared<ScriptedFileProbe>();
    QTemporaryDir devices;

    ScriptedMachine() { setDisks({}); }

    // The macOS profile, watching an empty device directory of its own, as the Linux profile
    // watches /dev: a mounted disk that leaves the list has then been pulled out.
    ModelEnvironment environment() const
    {
        Platform platform = Platform::macOS();
        platform.deviceDirectory = devices.path();
        return {platform, runner, files, std::nullopt};
    }

    // The disk utility lists these partitions with their names; the mount table carries the
    // mounted ones (read-only or writable as the record says).
    void setDisks(const QList<NTFSDisk> &disks)
    {
        using namespace fixtures;
        QStringList entries;
        QString table = "/dev/disk1s1 on / (apfs, local, read-only, journaled)\n";
        for (const NTFSDisk &disk : disks) {
            entries << partition(disk.deviceNode, disk.size, "Windows_NTFS");
            runner->on("/usr/sbin/diskutil info -plist " + disk.deviceNode,
                       ScriptedRunner::ok(QString::fromUtf8(detail({{"VolumeName", str(disk.volumeName)}, {"FilesystemType", str("ntfs")}}))));
            if (disk.mountPoint)
                table += "/dev/" + disk.deviceNode + " on " + *disk.mountPoint + " (ntfs, local, nodev, nosuid"
                    + (disk.isWritable ? ")\n" : ", read-only)\n");
        }
        runner->on("/usr/sbin/diskutil list -plist", ScriptedRunner::ok(QString::fromUtf8(listing(entries))));
        runner->on("/sbin/mount ", ScriptedRunner::ok(table));
    }

    void setPrerequisites(bool homebrew, bool fuseT, bool ntfs3g)
    {
        for (const auto &[path, present] : {std::pair<QString, bool>{"/opt/homebrew/bin/brew", homebrew},
                                            {"/Library/Filesystems/fuse-t.fs", fuseT}, {kNtfs3g, ntfs3g}})
            present ? void(files->existing.insert(path)) : void(files->existing.remove(path));
    }
};

} // namespace testsupport
