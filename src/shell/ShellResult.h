#pragma once

#include <QString>

// The outcome of one command run.
struct ShellResult {
    bool isSuccess = false; // started and exited with status 0
    QString output;         // trimmed stdout, else trimmed stderr, else a launch-failure message
    int exitCode = -1;      // exit status or terminating signal; -1 when the child never started

    friend bool operator==(const ShellResult &, const ShellResult &) = default;
};
