#pragma once

#include "platform/Platform.h"
#include "shell/CommandRunner.h"

#include <QByteArray>
#include <QStringList>

class QProcess;

// Starts every outside program: `run` through the profile's shell as the current user,
// `runPrivileged` with administrator rights (the AppleScript host on macOS, pkexec or a plain
// root shell on Linux). No state beyond the profile; every call owns its child and pipes.
class HelperShell final : public CommandRunner {
public:
    explicit HelperShell(Platform platform);

    ShellResult run(const QString &command, const QStringList &arguments) override;
    // Up to `concurrency()` children at a time, started in the commands' order.
    QList<ShellResult> runEach(const QList<Command> &commands) override;
    ShellResult runPrivileged(const QString &commandLine) override;
    QCoro::Task<ShellResult> runAsync(QString command, QStringList arguments) override;
    QCoro::Task<ShellResult> runPrivilegedAsync(QString commandLine) override;
    void launch(const QString &command, const QStringList &arguments) override;

    // A program and its arguments.
    struct Invocation {
        QString program;
        QStringList arguments;
    };
    // How `run` starts `commandLine`.
    static Invocation shellInvocation(const Platform &platform, const QString &commandLine);
    // How `runPrivileged` starts `commandLine` on this profile.
    static Invocation privilegedInvocation(const Platform &platform, const QString &commandLine);
    // The AppleScript statement that runs `commandLine` with administrator privileges.
    static QString appleScriptStatement(const QString &commandLine);
    // Builds the result of a child that exited (or was killed by `signal` when `crashed`).
    static ShellResult makeResult(const QByteArray &standardOutput, const QByteArray &standardError,
                                  int status);

    // How many children runEach lets run at once: one more than there are processors, so that a
    // child waiting for its disk leaves none of them idle.
    static int concurrency();

    static inline const QString kRunFailurePrefix = QStringLiteral("Failed to run command: ");
    static inline const QString kPrivilegedFailurePrefix = QStringLiteral("Privileged execution failed: ");

private:
    ShellResult execute(const Invocation &invocation, const QString &failurePrefix, bool privileged);
    // The result of a child started by `process.start`, once it has ended.
    ShellResult finish(QProcess &process, const QString &failurePrefix, bool privileged) const;
    QCoro::Task<ShellResult> executeAsync(Invocation invocation, QString failurePrefix, bool privileged);
    ShellResult adjustPrivileged(ShellResult result) const;

    Platform m_platform;
};
