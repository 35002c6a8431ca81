#pragma once

#include "disks/DiskError.h"
#include "disks/FailureAdvice.h"
#include "disks/NTFSDisk.h"
#include "disks/VolumeHolders.h"
#include "disks/VolumeState.h"
#include "platform/Platform.h"
#include "shell/CommandRunner.h"
#include "shell/FileProbe.h"

#include <QCoro/QCoroTask>
#include <QList>
#include <QObject>

#include <memory>
#include <optional>
#include <utility>

// Where the disk model's records come from, and the single steps by which the mount and unmount
// sequences reach the system: the disk utility's command lines, or a disk service on the system
// bus. The sequences themselves, their checks, errors and remedies, are written once
// (MountSequence); a backend only does what it is asked. Lives on the main thread. Its coroutines
// keep what they need alive themselves, so the backend may go while one runs.
class DiskBackend : public QObject {
    Q_OBJECT

public:
    // How one step ended: the words of the tool that took it, and why it failed where the tool
    // said so in its status.
    struct Step {
        bool ok = true;
        QString output;
        DiskError::Cause cause = DiskError::Cause::Unknown;
    };
    // A directory made or a volume mounted: where.
    struct Placed {
        Step step;
        QString directory;
    };
    // What the system says of a fresh mount. `readOnly` is absent where the system's flags do not
    // tell (the FUSE layer on macOS shows its writable volumes as read-only); `isNtfs3g` is absent
    // where the backend ran ntfs-3g itself.
    struct MountState {
        std::optional<bool> readOnly;
        std::optional<bool> isNtfs3g;
        QString driver; // the file-system type the system names, where isNtfs3g is false
    };

    // What the sequences use besides the steps: the profile (the settle time and the opener), the
    // runner that starts the opener, and the files of a fresh mount.
    struct Tools {
        Platform platform;
        std::shared_ptr<CommandRunner> runner;
        std::shared_ptr<FileProbe> files;
    };

    explicit DiskBackend(Tools tools, QObject *parent = nullptr)
        : QObject(parent)
        , m_tools(std::move(tools))
    {
    }
    const Tools &tools() const { return m_tools; }

    // Whether it sees the disks and mounts change as they do: only then can a mounted disk that
    // left the list be told from one unmounted elsewhere and unplugged between two scans.
    virtual bool watchesChanges() const = 0;
    // Every NTFS partition, in discovery order. Never fails: what cannot be read is left out.
    virtual QCoro::Task<QList<NTFSDisk>> discover() = 0;
    // Whether `disk`, no longer listed, has really gone: its device no longer exists (a listing
    // that could not be read leaves disks out too).
    virtual QCoro::Task<bool> isDetached(NTFSDisk disk) = 0;
    // After `disk` went away while it was mounted: takes down what is left of its mount, and the
    // empty directory it leaves, where the system does not do so itself.
    virtual QCoro::Task<> cleanUpAfterRemoval(NTFSDisk disk) = 0;

    // The steps of a mount, in the order the sequence takes them.
    // Whether Windows marked the volume dirty or left its journal open: read the same way whatever
    // mounts the volume.
    QCoro::Task<VolumeState::Answer> isMarkedDirty(const NTFSDisk &disk) const
    {
        return VolumeState::isMarkedDirty(m_tools.platform, m_tools.runner, m_tools.files, disk.devicePath());
    }
    // Takes down the system's own (read-only) mount of `disk`.
    virtual QCoro::Task<Step> removeSystemMount(NTFSDisk disk) = 0;
    // Makes the directory to mount on; an empty one where the mount chooses its own.
    virtual QCoro::Task<Placed> makeMountDirectory(NTFSDisk disk) = 0;
    // Mounts `disk` through ntfs-3g on `directory` (or where the system chooses), read-only on request.
    virtual QCoro::Task<Placed> mount(NTFSDisk disk, QString directory, QString ntfs3gPath, bool readOnly) = 0;
    virtual QCoro::Task<MountState> mountState(QString directory) = 0;
    // Undoes what this mount made at `directory`: the volume where it came up, then the directory
    // where the backend made it.
    virtual QCoro::Task<> takeDown(NTFSDisk disk, QString directory) = 0;

    // Unmounts `disk`; one not mounted counts as unmounted. Removes the mount directory it leaves.
    virtual QCoro::Task<Step> unmount(NTFSDisk disk) = 0;
    // After `disk` was unmounted: powers its drive off where the desktop's safe removal does (a
    // removable drive with nothing else mounted or in use), which also flushes the drive's cache.
    // Nothing where the system does not do so; whether it worked changes nothing of the outcome.
    virtual QCoro::Task<> releaseDrive(NTFSDisk) { co_return; }
    // The programs that hold the volume mounted at `mountPoint`, found the same way on every backend.
    QCoro::Task<FailureAdvice::Holders> holders(QString mountPoint) const
    {
        return VolumeHolders::of(m_tools.platform, *m_tools.runner, std::move(mountPoint));
    }

Q_SIGNALS:
    // The disks or their mounts changed behind the model's back: a disk attached or removed, a
    // volume mounted or unmounted by another program.
    void changed();

private:
    Tools m_tools;
};
