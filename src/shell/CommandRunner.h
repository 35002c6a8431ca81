#pragma once

#include "shell/ShellResult.h"

#include <QCoro/QCoroTask>
#include <QStringList>

// The seam through which models start outside programs. Production code uses HelperShell;
// tests use a scripted runner that records every command line.
//
// `run` joins `command` and `arguments` with single spaces (a space always follows `command`)
// and hands the line to the shell as the current user. `runPrivileged` runs one whole shell
// line with administrator rights. The blocking forms are for background threads; the
// awaitable forms leave the event loop running while the child runs. Both give identical
// results. `launch` starts a line as the current user and does not wait for it or read it.
//
// `runEach` is `run` for several commands, blocking, with the results in the commands' order. It
// starts them in that order, but may let several run at once; this one runs them one by one.
class CommandRunner {
public:
    struct Command {
        QString command;
        QStringList arguments;
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
    virtual ShellResult runPrivileged(const QString &commandLine) = 0;

    virtual QCoro::Task<ShellResult> runAsync(QString command, QStringList arguments) = 0;
    virtual QCoro::Task<ShellResult> runPrivilegedAsync(QString commandLine) = 0;

    virtual void launch(const QString &command, const QStringList &arguments) = 0;

    // The line `run` hands to the shell.
    static QString joinCommandLine(const QString &command, const QStringList &arguments)
    {
        return command + QLatin1Char(' ') + arguments.join(QLatin1Char(' '));
    }
};
