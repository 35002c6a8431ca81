#include "disks/VolumeState.h"

#include "disks/MountPaths.h"
#include "disks/NtfsVolume.h"
#include "shell/OffEventLoop.h"

namespace VolumeState {
namespace {

Answer said(const ShellResult &answer)
{
    if (answer.isSuccess && (answer.output == kClean || answer.output == kDirty))
        return {answer.output == kDirty, std::nullopt};
    return {std::nullopt, answer};
}

} // namespace

QCoro::Task<Answer> isMarkedDirty(Platform platform, std::shared_ptr<CommandRunner> runner,
                                  std::shared_ptr<FileProbe> files, QString device)
{
    auto probe = offloop::run(device, [files, device] { return NtfsVolume::isMarkedDirty(*files, device); }, std::optional<bool>());
    const std::optional<bool> read = co_await probe;
    if (read || platform.volumeStateReader.isEmpty() || platform.elevation != Platform::Elevation::Pkexec)
        co_return Answer{read, std::nullopt};
    // Raw devices are the administrator's: the reader, run with the rights the desktop grants it,
    // says one word.
    // (Named first: GCC 12 frees a temporary argument before the awaited call has used it.)
    const QStringList arguments{MountPaths::doubleQuoted(platform.volumeStateReader), MountPaths::doubleQuoted(device)};
    const ShellResult answer = co_await runner->runAsync(platform.pkexec, arguments, CommandRunner::TimeLimit::Prompt);
    co_return said(answer);
}

} // namespace VolumeState
