#pragma once

#include "disks/DiskDiscovery.h"
#include "disks/DiskError.h"
#include "disks/NTFSDisk.h"
#include "platform/Platform.h"
#include "shell/CommandRunner.h"
#include "shell/FileProbe.h"
#include "shell/ModelEnvironment.h"

#include <QCoro/QCoroTask>
#include <QList>
#include <QObject>

#include <memory>
#include <optional>

// The observable list of NTFS partitions and the three disk operations. Lives on the main
// thread; only the detail reads and the mount-table probe of a scan run in the background.
class DiskManager : public QObject {
    Q_OBJECT
    Q_PROPERTY(QList<NTFSDisk> disks READ disks NOTIFY disksChanged)
    Q_PROPERTY(bool isScanning READ isScanning NOTIFY isScanningChanged)

public:
    // What the background part of a scan needs; it holds this weakly.
    struct Context {
        Platform platform;
        std::shared_ptr<CommandRunner> runner;
        std::shared_ptr<FileProbe> files;
    };

    // The host's profile, the real shell and file system.
    explicit DiskManager(QObject *parent = nullptr);
    explicit DiskManager(const ModelEnvironment &environment, QObject *parent = nullptr);
    DiskManager(Platform platform, std::shared_ptr<CommandRunner> runner, std::shared_ptr<FileProbe> files,
                QObject *parent = nullptr);
    ~DiskManager() override;

    const QList<NTFSDisk> &disks() const { return m_disks; }
    bool isScanning() const { return m_isScanning; }
    const std::optional<QString> &lastError() const { return m_lastError; }
    const Platform &platform() const { return m_context->platform; }

    // Rebuilds `disks`. Returns at once, without effect, while a scan runs. Never fails.
    QCoro::Task<> scanDisks();

    // Remounts `disk` read-write through ntfs-3g. Nothing on success, else the error.
    QCoro::Task<std::optional<DiskError>> mountReadWrite(NTFSDisk disk, QString ntfs3gPath);

    // Unmounts `disk` and rescans. Nothing on success, else the error.
    QCoro::Task<std::optional<DiskError>> unmount(NTFSDisk disk);

    // The record of one partition from its detail read, or nothing. Blocking.
    static std::optional<NTFSDisk> readDiskDetail(const Context &context, const QString &deviceNode, qint64 size);
    // `disks` with mount state corrected from the mount table. Blocking.
    static QList<NTFSDisk> applyMountTable(const Context &context, QList<NTFSDisk> disks);
    // Everything a scan computes after the listing. Blocking; runs on the background task.
    static QList<NTFSDisk> discover(const Context &context, const QByteArray &listing);

Q_SIGNALS:
    void disksChanged();
    void isScanningChanged();
    void lastErrorChanged();

private:
    // The record of a listing candidate from its detail read; a "Microsoft Basic Data" one must
    // say NTFS.
    static std::optional<NTFSDisk> diskFromDetail(const DiskDiscovery::Candidate &candidate, const ShellResult &result);
    void setDisks(QList<NTFSDisk> disks);
    void setIsScanning(bool scanning);
    void setLastError(std::optional<QString> error);
    // The first free mount directory for `disk`: its own, else "NAME 1", "NAME 2", …
    QString freeMountDirectory(const NTFSDisk &disk) const;

    std::shared_ptr<Context> m_context;
    QList<NTFSDisk> m_disks;
    bool m_isScanning = false;
    std::optional<QString> m_lastError;
};
