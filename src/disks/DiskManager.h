#pragma once

#include "disks/DiskBackend.h"
#include "disks/DiskError.h"
#include "disks/NTFSDisk.h"
#include "platform/Platform.h"
#include "shell/CommandRunner.h"
#include "shell/FileProbe.h"
#include "shell/ModelEnvironment.h"

#include <QCoro/QCoroTask>
#include <QList>
#include <QObject>
#include <QPromise>
#include <QTimer>

#include <memory>
#include <optional>

// The observable list of NTFS partitions and the three disk operations. Lives on the main
// thread. Its backend does the work: the disk utility's command lines, or udisks2 where it runs;
// a backend that sees changes made by others has the list rescanned by itself.
class DiskManager : public QObject {
    Q_OBJECT
    Q_PROPERTY(QList<NTFSDisk> disks READ disks NOTIFY disksChanged)
    Q_PROPERTY(bool isScanning READ isScanning NOTIFY isScanningChanged)

public:
    // The host's profile, the real shell and file system, and its disk service where one runs.
    explicit DiskManager(QObject *parent = nullptr);
    explicit DiskManager(const ModelEnvironment &environment, QObject *parent = nullptr);
    // The disk utility's command lines on `platform`.
    DiskManager(Platform platform, std::shared_ptr<CommandRunner> runner, std::shared_ptr<FileProbe> files,
                QObject *parent = nullptr);
    DiskManager(std::unique_ptr<DiskBackend> backend, QObject *parent = nullptr);
    ~DiskManager() override;

    const QList<NTFSDisk> &disks() const { return m_disks; }
    bool isScanning() const { return m_isScanning; }

    // Rebuilds `disks`; done once a scan that started after this call has published its list. A
    // scan asked for while one runs follows right after it, one for all the requests made
    // meanwhile, since the running one may have read the state from before them. Never fails.
    QCoro::Task<> scanDisks();

    // Remounts `disk` read-write through ntfs-3g. Nothing on success, else the error.
    QCoro::Task<std::optional<DiskError>> mountReadWrite(NTFSDisk disk, QString ntfs3gPath);

    // Mounts `disk` read-only through ntfs-3g: the remedy for a volume Windows still holds.
    QCoro::Task<std::optional<DiskError>> mountReadOnly(NTFSDisk disk, QString ntfs3gPath);

    // Unmounts `disk` and rescans. Nothing on success, else the error.
    QCoro::Task<std::optional<DiskError>> unmount(NTFSDisk disk);

    // What a card or a menu entry asks of a disk: one of the three above.
    enum class Operation { MountReadWrite, MountReadOnly, Unmount };
    // Runs `operation` on `disk`; the mounts need `ntfs3gPath`, the unmount ignores it. Refused
    // while another operation, of this model or another in the process, works on the same disk.
    QCoro::Task<std::optional<DiskError>> perform(Operation operation, NTFSDisk disk, QString ntfs3gPath);
    // What the remedy of a failed `operation` asks for: a read-only mount, or the same again.
    static Operation remedyOf(Operation failed, DiskError::Remedy remedy);
    // `disk` as listed now (a failed mount may have changed it), or as it was when it is gone.
    NTFSDisk listed(const NTFSDisk &disk) const;

Q_SIGNALS:
    void disksChanged();
    // `disk`, listed as mounted, went away (its device is gone) without being unmounted first.
    // What was left of its mount is cleaned up after the signal, by a model whose signal is
    // connected: of two models of the same disks, only the one that reports it.
    void mountedDiskRemoved(const NTFSDisk &disk);
    // `disk` was attached while the model followed the disks (not one of those listed at first).
    void diskArrived(const NTFSDisk &disk);
    void isScanningChanged();

private:
    void setDisks(QList<NTFSDisk> disks);
    void setIsScanning(bool scanning);
    // The backend saw a change: one rescan a moment later for a burst of them.
    void rescanSoon();
    // Scans while scans are asked for, each answering the requests made before it started.
    QCoro::Task<> runScans();
    // The error of an operation refused because another one works on the same disk.
    static DiskError alreadyUnderWay(Operation operation, const NTFSDisk &disk);
    // A mounted disk left the list: if it has really gone, says so and cleans up after it.
    QCoro::Task<> followRemoval(NTFSDisk disk);
    // Those of `found` the list does not hold yet.
    QList<NTFSDisk> newcomers(const QList<NTFSDisk> &found) const;
    static bool containsDevice(const QList<NTFSDisk> &disks, const QString &deviceNode);

    // Shared with the operations under way, which may outlive the model.
    std::shared_ptr<DiskBackend> m_backend;
    QList<NTFSDisk> m_disks;
    bool m_isScanning = false;
    bool m_scanAsked = false;
    bool m_hasPublished = false; // the first list is what was there at start // a caller asked first, so the model's own first scan is not needed
    int m_operations = 0;     // mounts and unmounts under way
    QTimer m_changeTimer;
    // The requests the next scan answers, finished once it has published; absent when none waits.
    // Destroyed with the model, which cancels it, so no waiter is left hanging.
    std::shared_ptr<QPromise<void>> m_nextScan;
};
