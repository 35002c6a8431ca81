#include "disks/MountSequence.h"

#include "disks/FailureAdvice.h"
#include "disks/MountPaths.h"
#include "shell/OffEventLoop.h"

#include <QCoro/QCoroTimer>

#include <utility>

namespace MountSequence {
namespace {

using Cause = DiskError::Cause;
using Step = DiskBackend::Step;

// The error of a failed step: its prefix, then the tool's words. (Built outside the coroutines:
// GCC 12 cannot keep string literals alive across a suspension point in the same expression.)
DiskError failed(DiskError::Code code, const QString &prefix, const Step &step)
{
    DiskError error{code, prefix + step.output};
    error.cause = step.cause;
    return error;
}
DiskError systemMountNotRemoved(const Step &step)
{
    return failed(DiskError::UnmountReadOnlyFailed, QStringLiteral("Failed to unmount existing read-only volume: "), step);
}
DiskError directoryNotMade(const DiskBackend::Placed &made)
{
    return failed(DiskError::CreateDirectoryFailed,
                  QStringLiteral("Failed to create mount directory at ") + made.directory + QStringLiteral(": "), made.step);
}
DiskError mountFailed(const Step &step)
{
    return failed(DiskError::MountFailed, QStringLiteral("Mount failed: "), step);
}
DiskError unmountFailed(const Step &step)
{
    return failed(DiskError::UnmountFailed, QStringLiteral("Failed to unmount: "), step);
}

// The volume's state went untold: a dismissed prompt cancels the mount; otherwise the read-only
// mount, which cannot harm it, is offered.
DiskError stateNotRead(const ShellResult &reader)
{
    if (reader.wasDismissed)
        return mountFailed({false, reader.output, Cause::Cancelled});
    return FailureAdvice::stateNotRead(reader.output);
}

// ntfs-3g refused the volume: where it said why (a hibernated Windows, an unclean volume), a
// read-write mount gets the explanation and the read-only mount offered.
DiskError adviseOnRefusal(DiskError error, const QString &ntfs3gOutput)
{
    const FailureAdvice::ReadOnlyCause cause = FailureAdvice::readOnlyCause(ntfs3gOutput, {});
    if (cause == FailureAdvice::ReadOnlyCause::Unknown)
        return error;
    return FailureAdvice::offerReadOnly(std::move(error), cause);
}

// A fresh mount that is not ntfs-3g's: the system chose the kernel's driver.
DiskError wrongDriver(const QString &driver)
{
    DiskError error{DiskError::MountFailed,
                    QStringLiteral("Mount failed: the volume was mounted with ") + driver + QStringLiteral(", not ntfs-3g")};
    error.cause = Cause::WrongDriver;
    return error;
}

// A read-write mount that came up read-only: ntfs-3g's words, where it said anything.
DiskError cameUpReadOnly(const Step &mounted, const QByteArray &hibernationFile)
{
    Step said = mounted;
    if (said.output.isEmpty())
        said.output = QStringLiteral("ntfs-3g could mount the volume only read-only");
    return FailureAdvice::offerReadOnly(mountFailed(said), FailureAdvice::readOnlyCause(mounted.output, hibernationFile));
}

} // namespace

QCoro::Task<Outcome> mount(std::shared_ptr<DiskBackend> backend, NTFSDisk disk, QString ntfs3gPath, bool readOnly)
{
    const DiskBackend::Tools tools = backend->tools();
    // A volume Windows marked dirty, or whose journal it left open, is not written to until Windows
    // has checked it; nor one whose state the reader was asked for and did not tell.
    if (!readOnly) {
        const VolumeState::Answer state = co_await backend->isMarkedDirty(disk);
        if (state.dirty == true)
            co_return Outcome{FailureAdvice::markedDirty(), false};
        if (state.unanswered)
            co_return Outcome{stateNotRead(*state.unanswered), false};
    }

    // The system's read-only mount goes first. Once it has gone, every failure still rescans, so
    // that the list shows what is left.
    bool changed = false;
    if (disk.mountPoint) {
        const Step removed = co_await backend->removeSystemMount(disk);
        if (!removed.ok)
            co_return Outcome{systemMountNotRemoved(removed), false};
        changed = true;
    }

    const DiskBackend::Placed made = co_await backend->makeMountDirectory(disk);
    if (!made.step.ok)
        co_return Outcome{directoryNotMade(made), changed};

    // On failure, what this mount made goes again.
    const DiskBackend::Placed mounted = co_await backend->mount(disk, made.directory, ntfs3gPath, readOnly);
    if (!mounted.step.ok) {
        co_await backend->takeDown(disk, made.directory);
        DiskError error = mountFailed(mounted.step);
        if (!readOnly)
            error = adviseOnRefusal(std::move(error), mounted.step.output);
        co_return Outcome{std::move(error), changed};
    }
    const QString directory = mounted.directory;

    // Give the FUSE layer a moment to settle.
    if (tools.platform.mountSettleTime.count() > 0)
        co_await QCoro::sleepFor(tools.platform.mountSettleTime);

    // A mount by another driver, or one that ntfs-3g could make only read-only (its own words say
    // so; where the system's flags are truthful, they are a second witness), is never passed for
    // a success. The hibernation file, read while the volume is still up, tells why.
    const DiskBackend::MountState state = co_await backend->mountState(directory);
    if (state.isNtfs3g == false) {
        co_await backend->takeDown(disk, directory);
        co_return Outcome{wrongDriver(state.driver), changed};
    }
    const bool saidReadOnly =
        FailureAdvice::readOnlyCause(mounted.step.output, {}) != FailureAdvice::ReadOnlyCause::Unknown;
    if (!readOnly && (saidReadOnly || state.readOnly == true)) {
        auto read = offloop::run(
            directory + QStringLiteral("/hiberfil.sys"),
            [files = tools.files, file = directory + QStringLiteral("/hiberfil.sys")] { return files->read(file, 0, 8); },
            QByteArray());
        const QByteArray hibernationFile = co_await read;
        co_await backend->takeDown(disk, directory);
        co_return Outcome{cameUpReadOnly(mounted.step, hibernationFile), changed};
    }

    // Show the volume; the opener is not waited for.
    tools.runner->launch(tools.platform.opener, {MountPaths::doubleQuoted(directory)});
    co_return Outcome{};
}

QCoro::Task<Outcome> unmount(std::shared_ptr<DiskBackend> backend, NTFSDisk disk)
{
    // The unmount always rescans, whatever its result. A busy volume stays mounted: the error
    // names the programs that hold it, so that the user can close them and try again.
    const Step unmounted = co_await backend->unmount(disk);
    if (unmounted.ok) {
        co_await backend->releaseDrive(disk);
        co_return Outcome{};
    }
    FailureAdvice::Holders holders;
    if (disk.mountPoint && unmounted.cause != Cause::Gone)
        holders = co_await backend->holders(*disk.mountPoint);
    co_return Outcome{FailureAdvice::offerRetry(unmountFailed(unmounted), holders)};
}

} // namespace MountSequence
