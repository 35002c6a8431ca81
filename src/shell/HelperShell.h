#pragma once

#include "platform/Platform.h"
#include "shell/CommandRunner.h"

#include <QByteArray>
#include <QStringList>

#include <chrono>
#include <memory>

class QDeadlineTimer;
class QProcess;

// Starts every outside program: `run` through the profile's shell as the current user,
// `runPrivilegedAsync` with administrator rights (the AppleScript host on macOS, pkexec or a plain
// root shell on Linux). No state beyond the profile and the time limits; every call owns its
// child and pipes.
class HelperShell final : public CommandRunner {
public:
    // How long each kind of child may run. A listing that takes minutes is stuck; a password
    // prompt may sit a while before someone answers it; a package manager may download for long.
    struct TimeLimits {
        std::chrono::milliseconds read = std::chrono::minutes(2);
        std::chrono::milliseconds prompt = std::chrono::minutes(15);
        std::chrono::milliseconds install = std::chrono::minutes(60);

        std::chrono::milliseconds of(TimeLimit limit) const;
    };

    explicit HelperShell(Platform platform);
    HelperShell(Platform platform, TimeLimits limits);

    ShellResult run(const QString &command, const QStringList &arguments) override;
    // Up to `concurrency()` children at a time, started in the commands' order.
    QList<ShellResult> runEach(const QList<Command> &commands) override;
    QCoro::Task<ShellResult> runAsync(QString command, QStringList arguments) override;
    QCoro::Task<ShellResult> runPrivilegedAsync(QString commandLine) override;
    QCoro::Task<ShellResult> runAsync(QString command, QStringList arguments, TimeLimit limit) override;
    QCoro::Task<ShellResult> runPrivilegedAsync(QString commandLine, TimeLimit limit) override;
    void launch(const QString &command, const QStringList &arguments) override;

    // A program and its arguments.
    struct Invocation {
        QString program;
        QStringList arguments;
    };
    // How `run` starts `commandLine`.
    static Invocation shellInvocation(const Platform &platform, const QString &commandLine);
    // How `runPrivilegedAsync` starts `commandLine` on this profile.
    static Invocation privilegedInvocation(const Platform &platform, const QString &commandLine);
    // The AppleScript statement that runs `commandLine` with administrator privileges.
    static QString appleScriptStatement(const QString &commandLine);
    // The result of a child that ended with `status`: its exit status, or the number of the
    // signal that killed it. The streams are what was kept of them.
    static ShellResult makeResult(const QByteArray &standardOutput, const QByteArray &standardError,
                                  int status);
    // The result of a child stopped after `limit`; `commandLine` names it.
    static ShellResult timedOutResult(const QString &commandLine, std::chrono::milliseconds limit);

    // How many children runEach lets run at once: one more than there are processors, so that a
    // child waiting for its disk leaves none of them idle.
    static int concurrency();

    static inline const QString kRunFailurePrefix = QStringLiteral("Failed to run command: ");
    static inline const QString kPrivilegedFailurePrefix = QStringLiteral("Privileged execution failed: ");

    // How much of each stream of a child is kept: far more than any listing, detail or holder
    // list of a machine with hundreds of disks and open files. The rest is read and dropped as it
    // comes, so the child never waits on a full pipe; where a stream was cut, the kept part (less
    // a character cut in two) ends with a line holding kOutputCutMark.
    static constexpr qsizetype kKeptOutputBytes = 16 * 1024 * 1024;
    static inline const QString kOutputCutMark =
        QStringLiteral("[output cut: only its first %1 MiB are kept]").arg(kKeptOutputBytes / (1024 * 1024));

private:
    // One child: how it starts, what a launch failure is prefixed with, whether pkexec's answers
    // apply, the line its time-out names and its time limit.
    struct Job {
        Invocation invocation;
        QString failurePrefix;
        bool privileged = false;
        QString commandLine;
        std::chrono::milliseconds limit;
    };
    Job runJob(const QString &command, const QStringList &arguments, TimeLimit limit) const;
    Job privilegedJob(const QString &commandLine, TimeLimit limit) const;

    // What is kept of one child's streams, read as they come from the time it is made.
    struct KeptOutput;
    static std::shared_ptr<KeptOutput> keepOutputOf(QProcess &process);
    static ShellResult resultOf(QProcess &process, KeptOutput &kept);

    ShellResult execute(const Job &job);
    // The result of a child started by `process.start`, once it has ended or `deadline` has passed.
    ShellResult finish(QProcess &process, KeptOutput &kept, const Job &job, const QDeadlineTimer &deadline) const;
    QCoro::Task<ShellResult> executeAsync(Job job);
    ShellResult adjustPrivileged(ShellResult result) const;

    Platform m_platform;
    TimeLimits m_limits;
};
