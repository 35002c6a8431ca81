#pragma once

// How a Linux command gets administrator rights, and what pkexec's exit says about the attempt.
// Plain C++, no Qt: HelperShell's privileged runs and the stand-in diskutil's unmount both go
// through it, and each words the outcome for its own reader.
#include "platform/LinuxTools.h"

#include <string_view>

#include <unistd.h>

namespace elevation {

// Whether this process has administrator rights already; a privileged command then runs as it is.
inline bool haveRights()
{
    return ::geteuid() == 0;
}

// `command` (a program and its arguments) run with administrator rights: `pkexec` in front of it.
// Takes std::vector<std::string> and QStringList alike.
template<typename List, typename String>
List throughPkexec(const String &pkexec, List command)
{
    command.insert(command.begin(), pkexec);
    return command;
}

// How a run through pkexec ended.
enum class Outcome {
    Succeeded,
    NotStarted, // pkexec itself could not be started (exit status -1 from the runner)
    Dismissed,  // the authentication dialog was dismissed
    NoAgent,    // no polkit agent runs, so nobody could be asked for the password
    Failed,     // refused, or the command failed: its own words say why
};

// pkexec exits with 126 when the dialog was dismissed, and with 127 when it could not authorise
// (as for a command that was not found: only its words tell a missing agent apart).
inline constexpr int kDismissedStatus = 126;
inline constexpr int kUnauthorisedStatus = 127;
inline constexpr std::string_view kNoAgentWords = "No authentication agent found";

// `output` is what the run wrote, pkexec's complaint included.
inline Outcome outcomeOf(int exitStatus, std::string_view output)
{
    switch (exitStatus) {
    case 0: return Outcome::Succeeded;
    case -1: return Outcome::NotStarted;
    case kDismissedStatus: return Outcome::Dismissed;
    case kUnauthorisedStatus:
        return output.find(kNoAgentWords) != std::string_view::npos ? Outcome::NoAgent : Outcome::Failed;
    default: return Outcome::Failed;
    }
}

} // namespace elevation
