#pragma once

// Whether Windows left an NTFS volume marked dirty or its journal open, learnt without mounting
// it: from the device itself where this process may read it, else through the profile's
// privileged reader, which the desktop's rules let an active session run without a password.
#include "platform/Platform.h"
#include "shell/CommandRunner.h"
#include "shell/FileProbe.h"

#include <QCoro/QCoroTask>

#include <memory>
#include <optional>

namespace VolumeState {

// The reader's words for the two states it can tell.
inline const QString kClean = QStringLiteral("clean");
inline const QString kDirty = QStringLiteral("dirty");

// What was learnt of a volume: `dirty` absent where it could not be told; `unanswered`, the
// reader's run where it was asked and gave no answer (a dismissed prompt, a refusal, a device it
// could not read). Where the reader was asked, nothing is to be written without its answer.
struct Answer {
    std::optional<bool> dirty;
    std::optional<ShellResult> unanswered;
};

// Whether the volume at `device` (a /dev/ path) is marked dirty or its journal open.
QCoro::Task<Answer> isMarkedDirty(Platform platform, std::shared_ptr<CommandRunner> runner,
                                  std::shared_ptr<FileProbe> files, QString device);

} // namespace VolumeState
