#pragma once

#include "platform/Platform.h"
#include "shell/CommandRunner.h"
#include "shell/FileProbe.h"

#include <memory>

// What a model pair is built from: the profile, the command runner and the file-system probe.
// Production uses host(); tests build one from scripted doubles.
struct ModelEnvironment {
    Platform platform;
    std::shared_ptr<CommandRunner> runner;
    std::shared_ptr<FileProbe> files;

    static ModelEnvironment host();
};
