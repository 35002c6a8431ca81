#pragma once

#include "shell/FileProbe.h"

#include <QHash>
#include <QSet>
#include <QString>

// File-system answers for tests: paths listed here exist / are mount points / are read-only /
// are devices that have gone; `contents` holds what files and devices read as.
class ScriptedFileProbe : public FileProbe {
public:
    QSet<QString> existing;
    QSet<QString> mountPoints;
    QSet<QString> readOnlyMounts;
    QSet<QString> missingDevices; // every other device exists
    QHash<QString, QByteArray> contents;

    bool exists(const QString &path) const override { return existing.contains(path); }
    bool isMountPoint(const QString &path) const override { return mountPoints.contains(path); }
    bool isWritableMount(const QString &path) const override { return !readOnlyMounts.contains(path); }
    bool isDevice(const QString &path) const override { return !missingDevices.contains(path); }
    QByteArray read(const QString &path, qint64 offset, qint64 length) const override
    {
        return contents.value(path).mid(offset, length);
    }
};
