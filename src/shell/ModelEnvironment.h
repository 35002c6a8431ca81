#pragma once

#include "platform/Platform.h"
#include "shell/CommandRunner.h"
#include "shell/FileProbe.h"

#include <QDBusConnection>

#include <memory>
#include <optional>

// What a model pair is built from: the profile, the command runner, the file-system probe, and
// the bus on which the profile's disk service answers. Production uses host(); tests build one
// from scripted doubles or point it at a bus of their own.
struct ModelEnvironment {
    Platform platform;
    std::shared_ptr<CommandRunner> runner;
    std::shared_ptr<FileProbe> files;
    // Absent when the profile names no disk service or none runs: the disks then go through the
    // disk utility's command lines.
    std::optional<QDBusConnection> diskServiceBus;

    static ModelEnvironment host();

    // `bus` when the disk service `service` runs there or can be started there on demand.
    static std::optional<QDBusConnection> diskServiceOn(const QDBusConnection &bus, const QString &service);
};
