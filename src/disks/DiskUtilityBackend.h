#pragma once

#include "disks/DiskBackend.h"
#include "platform/Platform.h"
#include "shell/CommandRunner.h"
#include "shell/FileProbe.h"

#include <memory>

// Disks through command lines: the disk utility's listing and detail property lists, the
// mount-table listing, ntfs-3g and mkdir/rmdir with administrator rights, the disk utility's
// unmount. On Linux the stand-ins answer the same lines. Changes made by others are seen through
// the device directory and the kernel's mount table, where the profile names them.
class DiskUtilityBackend final : public DiskBackend {
    Q_OBJECT

public:
    DiskUtilityBackend(Platform platform, std::shared_ptr<CommandRunner> runner, std::shared_ptr<FileProbe> files,
                       QObject *parent = nullptr);
    ~DiskUtilityBackend() override;

    bool watchesChanges() const override;
    QCoro::Task<QList<NTFSDisk>> discover() override;
    QCoro::Task<bool> isDetached(NTFSDisk disk) override;
    QCoro::Task<> cleanUpAfterRemoval(NTFSDisk disk) override;
    QCoro::Task<Step> removeSystemMount(NTFSDisk disk) override;
    QCoro::Task<Placed> makeMountDirectory(NTFSDisk disk) override;
    QCoro::Task<Placed> mount(NTFSDisk disk, QString directory, QString ntfs3gPath, bool readOnly) override;
    QCoro::Task<MountState> mountState(QString directory) override;
    QCoro::Task<> takeDown(NTFSDisk disk, QString directory) override;
    QCoro::Task<Step> unmount(NTFSDisk disk) override;

    // What the commands need; the scan's background half holds it weakly and finds nothing once
    // the backend has gone.
    struct Context {
        Platform platform;
        std::shared_ptr<CommandRunner> runner;
        std::shared_ptr<FileProbe> files;
    };

private:
    std::shared_ptr<Context> m_context;
};
