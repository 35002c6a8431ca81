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

// Whether the volume at `device` (a /dev/ path) is marked dirty or its journal open; absent where
// it cannot be told.
QCoro::Task<std::optional<bool>> isMarkedDirty(Platform platform, std::shared_ptr<CommandRunner> runner,
                                               std::shared_ptr<FileProbe> files, QString device);

} // namespace VolumeState
