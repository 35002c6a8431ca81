#pragma once

#include <QString>

// The outcome of one command run.
struct ShellResult {
    // The exit code of a child stopped at its time limit: no exit status (0–255), signal number or
    // launch failure (-1) is negative like it.
    static constexpr int kTimedOut = -2;

    bool isSuccess = false; // started and exited with status 0
    QString output;         // trimmed stdout, else trimmed stderr, else a launch-failure or time-out message
    int exitCode = -1;      // exit status or terminating signal; -1 when the child never started,
                            // kTimedOut when it was stopped at its time limit
    bool wasDismissed = false; // a privileged run whose password prompt was dismissed: nothing ran

    friend bool operator==(const ShellResult &, const ShellResult &) = default;
};
