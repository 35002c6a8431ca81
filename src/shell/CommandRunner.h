#pragma once

#include "shell/ShellResult.h"

#include <QCoro/QCoroTask>
#include <QStringList>

#include <algorithm>
#include <utility>

// The seam through which models start outside programs. Production code uses HelperShell;
// tests use a scripted runner that records every command line.
//
// `run` hands the line joinCommandLine makes of `command` and `arguments` to the shell as the
// current user. `runPrivilegedAsync` runs one whole shell line with administrator rights. The
// blocking forms are for background threads; the awaitable forms leave the event loop running
// while the child runs. Both give identical results. `launch` starts a line as the current user and does
// not wait for it or read it.
//
// `runEach` is `run` for several commands, blocking, with the results in the commands' order. It
// starts them in that order, but may let several run at once; this one runs them one by one.
//
// Every child has a time limit, chosen by what it may wait for; one that is still running then is
// stopped and reported as failed (ShellResult::kTimedOut). `run`, `runEach` and `runAsync` have the
// limit of a read, `runPrivilegedAsync` that of a password prompt; the
// awaitable forms also take a limit of the caller's choosing.
class CommandRunner {
public:
    struct Command {
        QString command;
        QStringList arguments;
    };

    // Generous on purpose: a limit is there so that a child stuck on a bad disk cannot hold the
    // model for good, never to hurry a slow one. The runner decides how long each one is.
    enum class TimeLimit {
        Read,    // a listing or a detail read
        Prompt,  // may wait at an administrator password prompt
        Install, // installs or removes packages, perhaps after a prompt
    };

    virtual ~CommandRunner() = default;

    virtual ShellResult run(const QString &command, const QStringList &arguments) = 0;
    virtual QList<ShellResult> runEach(const QList<Command> &commands)
    {
        QList<ShellResult> results;
        results.reserve(commands.size());
        for (const Command &command : commands)
            results.append(run(command.command, command.arguments));
        return results;
    }

    virtual QCoro::Task<ShellResult> runAsync(QString command, QStringList arguments) = 0;
    virtual QCoro::Task<ShellResult> runPrivilegedAsync(QString commandLine) = 0;
    // The same within `limit`. A runner without limits of its own need not override these.
    virtual QCoro::Task<ShellResult> runAsync(QString command, QStringList arguments, TimeLimit limit)
    {
        Q_UNUSED(limit);
        return runAsync(std::move(command), std::move(arguments));
    }
    virtual QCoro::Task<ShellResult> runPrivilegedAsync(QString commandLine, TimeLimit limit)
    {
        Q_UNUSED(limit);
        return runPrivilegedAsync(std::move(commandLine));
    }

    virtual void launch(const QString &command, const QStringList &arguments) = 0;

    // The line `run` hands to the shell: `command` and `arguments` joined with single spaces (a
    // space always follows `command`). With arguments, `command` names one program, and it stands
    // between single quotes where the shell would split or expand it (an install prefix with a
    // blank); a plain path stays as it is. Without arguments it is a whole shell line already.
    static QString joinCommandLine(const QString &command, const QStringList &arguments)
    {
        return (arguments.isEmpty() ? command : shellWord(command)) + QLatin1Char(' ') + arguments.join(QLatin1Char(' '));
    }

    // `word` as the shell reads one word: as it is where it holds nothing the shell would split or
    // interpret (so the profiles' plain paths stay as they are), else between single quotes.
    static QString shellWord(QString word)
    {
        const auto plain = [](QChar c) {
            return (c >= QLatin1Char('a') && c <= QLatin1Char('z')) || (c >= QLatin1Char('A') && c <= QLatin1Char('Z'))
                || (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || QStringView(u"_-./+,:@%").contains(c);
        };
        if (!word.isEmpty() && std::all_of(word.cbegin(), word.cend(), plain))
            return word;
        return QLatin1Char('\'') + word.replace(QLatin1Char('\''), QLatin1String("'\\''")) + QLatin1Char('\'');
    }
};
