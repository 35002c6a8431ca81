#pragma once

#include "disks/DiskBackend.h"
#include "disks/udisks2/UDisks2Objects.h"
#include "platform/Platform.h"
#include "shell/CommandRunner.h"
#include "shell/FileProbe.h"

#include <QDBusConnection>

#include <memory>

class QDBusMessage;

// Disks through udisks2, the desktop's own disk service, on the system bus: discovery in-process
// from its object tree (read once, then kept up to date from its signals), mounts through ntfs-3g
// and unmounts by its methods (authorised by the desktop's polkit agent, which asks at most once
// and only where the desktop's rules want it), and its change signals. The file browser is still
// started through the command runner; the volume's own structures are read through the file probe.
class UDisks2Backend final : public DiskBackend {
    Q_OBJECT

public:
    UDisks2Backend(QDBusConnection bus, Platform platform, std::shared_ptr<CommandRunner> runner,
                   std::shared_ptr<FileProbe> files, QObject *parent = nullptr);
    ~UDisks2Backend() override;

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
    QCoro::Task<> releaseDrive(NTFSDisk disk) override;

    struct Context {
        QDBusConnection bus;
        Platform platform;
        std::shared_ptr<CommandRunner> runner;
        std::shared_ptr<FileProbe> files;
        UDisks2::ObjectTree tree;
    };

private Q_SLOTS:
    void onInterfacesAdded(const QDBusMessage &message);
    void onInterfacesRemoved(const QDBusMessage &message);
    void onPropertiesChanged(const QDBusMessage &message);
    void onServiceOwnerChanged();

private:
    std::shared_ptr<Context> m_context;
};
