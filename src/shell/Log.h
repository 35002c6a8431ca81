#pragma once

#include <QString>

#include <cstdio>

// Diagnostic lines: plain text on standard output, no levels or timestamps.
inline void writeLogLine(const QString &line)
{
    const QByteArray bytes = line.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}
