#include "shell/HelperShell.h"

#include <QCoro/QCoroSignal>
#include <QProcess>
#include <QScopeGuard>
#include <QStringDecoder>
#include <QThread>

#include <coroutine>
#include <memory>
#include <utility>
#include <vector>

namespace {

// pkexec exits with 126 when the authentication dialog was dismissed, and with 127 when it could
// not authorise (as a command that was not found does too: pkexec's own words tell them apart).
constexpr int kPkexecDismissed = 126;
constexpr int kPkexecFailed = 127;
const QString kPkexecNoAgent = QStringLiteral("No authentication agent found");

QString decodeUtf8OrEmpty(const QByteArray &bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    return decoder.hasError() ? QString() : text;
}

void prepare(QProcess &process)
{
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.setInputChannelMode(QProcess::ForwardedInputChannel);
}

int terminationStatus(const QProcess &process)
{
    // On a crash QProcess reports the number of the signal that ended the child.
    return process.exitCode();
}

// Resumes the awaiting coroutine once `process` has started or has failed to start.
class StartAwaiter {
public:
    explicit StartAwaiter(QProcess *process)
        : m_process(process)
    {
    }
    bool await_ready() const { return m_process->state() != QProcess::Starting; }
    void await_suspend(std::coroutine_handle<> waiter)
    {
        auto resume = [this, waiter] {
            QObject::disconnect(m_started);
            QObject::disconnect(m_failed);
            waiter.resume();
        };
        m_started = QObject::connect(m_process, &QProcess::started, m_process, resume);
        m_failed = QObject::connect(m_process, &QProcess::errorOccurred, m_process, resume);
    }
    void await_resume() const {}

private:
    QProcess *m_process;
    QMetaObject::Connection m_started;
    QMetaObject::Connection m_failed;
};

} // namespace

HelperShell::HelperShell(Platform platform)
    : m_platform(std::move(platform))
{
}

HelperShell::Invocation HelperShell::shellInvocation(const Platform &platform, const QString &commandLine)
{
    return {platform.shell, platform.shellArguments + QStringList{commandLine}};
}

QString HelperShell::appleScriptStatement(const QString &commandLine)
{
    QString escaped = commandLine;
    escaped.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    escaped.replace(QLatin1Char('"'), QStringLiteral("\\\""));
    return QStringLiteral("do shell script \"") + escaped + QStringLiteral("\" with administrator privileges");
}

HelperShell::Invocation HelperShell::privilegedInvocation(const Platform &platform, const QString &commandLine)
{
    switch (platform.elevation) {
    case Platform::Elevation::AppleScript:
        return {platform.osascript, {QStringLiteral("-e"), appleScriptStatement(commandLine)}};
    case Platform::Elevation::Direct:
        return {platform.privilegedShell, {QStringLiteral("-c"), commandLine}};
    case Platform::Elevation::Pkexec:
        return {platform.pkexec, {platform.privilegedShell, QStringLiteral("-c"), commandLine}};
    }
    Q_UNREACHABLE();
}

ShellResult HelperShell::makeResult(const QByteArray &standardOutput, const QByteArray &standardError, int status)
{
    const QString out = decodeUtf8OrEmpty(standardOutput);
    // The stream is chosen before trimming: blank stdout still wins over stderr.
    const QString chosen = out.isEmpty() ? decodeUtf8OrEmpty(standardError) : out;
    return {status == 0, chosen.trimmed(), status};
}

ShellResult HelperShell::adjustPrivileged(ShellResult result) const
{
    if (m_platform.elevation != Platform::Elevation::Pkexec)
        return result;
    if (result.exitCode == kPkexecDismissed) {
        result.output = result.output.isEmpty()
            ? QStringLiteral("User canceled.")
            : QStringLiteral("User canceled. ") + result.output;
    } else if (result.exitCode == kPkexecFailed && result.output.contains(kPkexecNoAgent)) {
        // Outside a desktop session nobody can be asked for the password.
        result.output = QStringLiteral(
            "No polkit authentication agent is running, so the administrator password could not be asked for. "
            "Log in to a desktop session, or start its authentication agent, and try again.");
    }
    return result;
}

ShellResult HelperShell::execute(const Invocation &invocation, const QString &failurePrefix, bool privileged)
{
    QProcess process;
    prepare(process);
    process.start(invocation.program, invocation.arguments);
    return finish(process, failurePrefix, privileged);
}

ShellResult HelperShell::finish(QProcess &process, const QString &failurePrefix, bool privileged) const
{
    if (!process.waitForStarted(-1))
        return {false, failurePrefix + process.errorString(), -1};
    process.waitForFinished(-1);
    ShellResult result = makeResult(process.readAllStandardOutput(), process.readAllStandardError(),
                                    terminationStatus(process));
    return privileged ? adjustPrivileged(std::move(result)) : result;
}

int HelperShell::concurrency()
{
    return QThread::idealThreadCount() + 1;
}

QList<ShellResult> HelperShell::runEach(const QList<Command> &commands)
{
    // A window over the commands: the oldest child is waited for while the next ones run. Each
    // child's output waits in its pipe until its turn comes, so none can hold up the one waited for.
    std::vector<std::unique_ptr<QProcess>> children(size_t(commands.size()));
    QList<ShellResult> results;
    results.reserve(commands.size());
    qsizetype started = 0;
    for (qsizetype i = 0; i < commands.size(); ++i) {
        for (; started < commands.size() && started < i + concurrency(); ++started) {
            const Command &command = commands[started];
            const Invocation invocation = shellInvocation(m_platform, joinCommandLine(command.command, command.arguments));
            auto &child = children[size_t(started)];
            child = std::make_unique<QProcess>();
            prepare(*child);
            child->start(invocation.program, invocation.arguments);
        }
        results.append(finish(*children[size_t(i)], kRunFailurePrefix, false));
        children[size_t(i)].reset();
    }
    return results;
}

QCoro::Task<ShellResult> HelperShell::executeAsync(Invocation invocation, QString failurePrefix, bool privileged)
{
    // Deleted from the event loop: the process may still be inside its own signal emission
    // when this coroutine ends, and if the coroutine is dropped early its child is killed.
    QProcess *process = new QProcess;
    const auto release = qScopeGuard([process] { process->deleteLater(); });
    prepare(*process);
    process->start(invocation.program, invocation.arguments);
    co_await StartAwaiter(process);
    if (process->error() == QProcess::FailedToStart)
        co_return ShellResult{false, failurePrefix + process->errorString(), -1};
    while (process->state() != QProcess::NotRunning)
        co_await qCoro(process, &QProcess::finished);
    ShellResult result = makeResult(process->readAllStandardOutput(), process->readAllStandardError(),
                                    terminationStatus(*process));
    co_return privileged ? adjustPrivileged(std::move(result)) : result;
}

ShellResult HelperShell::run(const QString &command, const QStringList &arguments)
{
    return execute(shellInvocation(m_platform, joinCommandLine(command, arguments)), kRunFailurePrefix, false);
}

ShellResult HelperShell::runPrivileged(const QString &commandLine)
{
    return execute(privilegedInvocation(m_platform, commandLine), kPrivilegedFailurePrefix, true);
}

QCoro::Task<ShellResult> HelperShell::runAsync(QString command, QStringList arguments)
{
    return executeAsync(shellInvocation(m_platform, joinCommandLine(command, arguments)), kRunFailurePrefix, false);
}

QCoro::Task<ShellResult> HelperShell::runPrivilegedAsync(QString commandLine)
{
    return executeAsync(privilegedInvocation(m_platform, commandLine), kPrivilegedFailurePrefix, true);
}

void HelperShell::launch(const QString &command, const QStringList &arguments)
{
    const Invocation invocation = shellInvocation(m_platform, joinCommandLine(command, arguments));
    QProcess process;
    process.setProgram(invocation.program);
    process.setArguments(invocation.arguments);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.startDetached();
}
