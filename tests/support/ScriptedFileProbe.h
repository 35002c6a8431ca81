#pragma once

#include "shell/FileProbe.h"

#include <QSet>
#include <QString>

// File-system answers for tests: paths listed here exist / are mount points / are read-only.
class ScriptedFileProbe : public FileProbe {
public:
    QSet<QString> existing;
    QSet<QString> mountPoints;
    QSet<QString> readOnlyMounts;

    bool exists(const QString &path) const override { return existing.contains(path); }
    bool isMountPoint(const QString &path) const override { return mountPoints.contains(path); }
    bool isWritableMount(const QString &path) const override { return !readOnlyMounts.contains(path); }
};
