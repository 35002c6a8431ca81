#include "shell/HelperShell.h"

#include "platform/Elevation.h"

#include <QCoro/QCoroProcess>
#include <QDeadlineTimer>
#include <QProcess>
#include <QScopeGuard>
#include <QStringDecoder>
#include <QThread>

#include <algorithm>
#include <coroutine>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

namespace {

// A child stopped at its time limit has this long to go. One stuck inside the kernel on a bad disk
// ends only once its read returns; it is not waited for any longer than this.
constexpr std::chrono::milliseconds kKillGrace(5000);

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

std::chrono::milliseconds remaining(const QDeadlineTimer &deadline)
{
    return std::chrono::milliseconds(std::max<qint64>(0, deadline.remainingTime()));
}

// "2 minutes", "1 second", "300 milliseconds": the largest unit that states `limit` exactly.
QString spokenDuration(std::chrono::milliseconds limit)
{
    using namespace std::chrono;
    const auto say = [](qint64 count, const char *unit) {
        return QString::number(count) + QLatin1Char(' ') + QLatin1String(unit)
            + (count == 1 ? QString() : QStringLiteral("s"));
    };
    if (limit.count() > 0 && limit % minutes(1) == milliseconds::zero())
        return say(duration_cast<minutes>(limit).count(), "minute");
    if (limit.count() > 0 && limit % seconds(1) == milliseconds::zero())
        return say(duration_cast<seconds>(limit).count(), "second");
    return say(limit.count(), "millisecond");
}

// Resumes the awaiting coroutine once `process` has started or has failed to start. QCoro's start
// awaiter listens for `started` alone, so a program that cannot start would keep it waiting for
// its whole time-out; and QCoro's signal awaiter on `started` or `stateChanged` binds their
// private-signal tag to a reference, which the undefined-behaviour sanitizer rejects. The end of
// a run is awaited with QCoro's waitForFinished, which has the time limit.
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

struct HelperShell::KeptOutput {
    struct Stream {
        QByteArray bytes;
        bool cut = false;

        void append(const QByteArray &chunk)
        {
            if (cut)
                return;
            const qsizetype room = kKeptOutputBytes - bytes.size();
            if (chunk.size() <= room) {
                bytes += chunk;
                return;
            }
            bytes += chunk.first(room);
            cut = true;
            // A character that the bound cuts in two goes whole: it would make the text invalid.
            if ((uchar(chunk[room]) & 0xC0) == 0x80) {
                qsizetype end = bytes.size();
                while (end > 0 && (uchar(bytes[end - 1]) & 0xC0) == 0x80)
                    --end;
                bytes.truncate(std::max<qsizetype>(0, end - 1));
            }
            bytes += '\n' + kOutputCutMark.toUtf8();
        }
    };
    Stream out;
    Stream err;
};

std::shared_ptr<HelperShell::KeptOutput> HelperShell::keepOutputOf(QProcess &process)
{
    // The connections own the record, so a child left to end on its own still has its streams read.
    auto kept = std::make_shared<KeptOutput>();
    QObject::connect(&process, &QProcess::readyReadStandardOutput, &process,
                     [kept, child = &process] { kept->out.append(child->readAllStandardOutput()); });
    QObject::connect(&process, &QProcess::readyReadStandardError, &process,
                     [kept, child = &process] { kept->err.append(child->readAllStandardError()); });
    return kept;
}

ShellResult HelperShell::resultOf(QProcess &process, KeptOutput &kept)
{
    kept.out.append(process.readAllStandardOutput());
    kept.err.append(process.readAllStandardError());
    return makeResult(kept.out.bytes, kept.err.bytes, terminationStatus(process));
}

std::chrono::milliseconds HelperShell::TimeLimits::of(TimeLimit limit) const
{
    switch (limit) {
    case TimeLimit::Read: return read;
    case TimeLimit::Prompt: return prompt;
    case TimeLimit::Install: return install;
    }
    Q_UNREACHABLE();
}

HelperShell::HelperShell(Platform platform)
    : HelperShell(std::move(platform), TimeLimits())
{
}

HelperShell::HelperShell(Platform platform, TimeLimits limits)
    : m_platform(std::move(platform))
    , m_limits(limits)
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
    case Platform::Elevation::Pkexec: {
        const QStringList command = elevation::throughPkexec(
            platform.pkexec, QStringList{platform.privilegedShell, QStringLiteral("-c"), commandLine});
        return {command.first(), command.mid(1)};
    }
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

ShellResult HelperShell::timedOutResult(const QString &commandLine, std::chrono::milliseconds limit)
{
    return {false,
            QStringLiteral("%1 did not finish within %2 and was stopped.").arg(commandLine.trimmed(), spokenDuration(limit)),
            ShellResult::kTimedOut};
}

ShellResult HelperShell::adjustPrivileged(ShellResult result) const
{
    // The script host reports a dismissed prompt as its error number -128.
    if (m_platform.elevation == Platform::Elevation::AppleScript) {
        result.wasDismissed = !result.isSuccess && result.output.endsWith(QStringLiteral("(-128)"));
        return result;
    }
    if (m_platform.elevation != Platform::Elevation::Pkexec)
        return result;
    const QByteArray words = result.output.toUtf8();
    switch (elevation::outcomeOf(result.exitCode, std::string_view(words.constData(), size_t(words.size())))) {
    case elevation::Outcome::Dismissed:
        result.wasDismissed = true;
        result.output = result.output.isEmpty() ? QStringLiteral("User canceled.")
                                                : QStringLiteral("User canceled. ") + result.output;
        break;
    case elevation::Outcome::NoAgent:
        // Outside a desktop session nobody can be asked for the password.
        result.output = QStringLiteral(
            "No polkit authentication agent is running, so the administrator password could not be asked for. "
            "Log in to a desktop session, or start its authentication agent, and try again.");
        break;
    case elevation::Outcome::Succeeded:
    case elevation::Outcome::NotStarted:
    case elevation::Outcome::Failed:
        break;
    }
    return result;
}

HelperShell::Job HelperShell::runJob(const QString &command, const QStringList &arguments, TimeLimit limit) const
{
    const QString line = joinCommandLine(command, arguments);
    return {shellInvocation(m_platform, line), kRunFailurePrefix, false, line, m_limits.of(limit)};
}

HelperShell::Job HelperShell::privilegedJob(const QString &commandLine, TimeLimit limit) const
{
    return {privilegedInvocation(m_platform, commandLine), kPrivilegedFailurePrefix, true, commandLine,
            m_limits.of(limit)};
}

ShellResult HelperShell::execute(const Job &job)
{
    QProcess process;
    prepare(process);
    const std::shared_ptr<KeptOutput> kept = keepOutputOf(process);
    const QDeadlineTimer deadline(job.limit);
    process.start(job.invocation.program, job.invocation.arguments);
    return finish(process, *kept, job, deadline);
}

ShellResult HelperShell::finish(QProcess &process, KeptOutput &kept, const Job &job, const QDeadlineTimer &deadline) const
{
    if (!process.waitForStarted(-1))
        return {false, job.failurePrefix + process.errorString(), -1};
    if (!process.waitForFinished(int(remaining(deadline).count())) && process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(int(kKillGrace.count()));
        return timedOutResult(job.commandLine, job.limit);
    }
    ShellResult result = resultOf(process, kept);
    return job.privileged ? adjustPrivileged(std::move(result)) : result;
}

int HelperShell::concurrency()
{
    return QThread::idealThreadCount() + 1;
}

QList<ShellResult> HelperShell::runEach(const QList<Command> &commands)
{
    // A window over the commands: the oldest child is waited for while the next ones run. Each
    // child's output waits in its pipe until its turn comes, so none can hold up the one waited for.
    // Each one's time counts from its own start.
    std::vector<std::unique_ptr<QProcess>> children(size_t(commands.size()));
    std::vector<std::shared_ptr<KeptOutput>> outputs(size_t(commands.size()));
    std::vector<Job> jobs;
    std::vector<QDeadlineTimer> deadlines;
    jobs.reserve(size_t(commands.size()));
    deadlines.reserve(size_t(commands.size()));
    QList<ShellResult> results;
    results.reserve(commands.size());
    qsizetype started = 0;
    for (qsizetype i = 0; i < commands.size(); ++i) {
        for (; started < commands.size() && started < i + concurrency(); ++started) {
            const Command &command = commands[started];
            const Job &job = jobs.emplace_back(runJob(command.command, command.arguments, TimeLimit::Read));
            auto &child = children[size_t(started)];
            child = std::make_unique<QProcess>();
            prepare(*child);
            outputs[size_t(started)] = keepOutputOf(*child);
            deadlines.emplace_back(job.limit);
            child->start(job.invocation.program, job.invocation.arguments);
        }
        results.append(finish(*children[size_t(i)], *outputs[size_t(i)], jobs[size_t(i)], deadlines[size_t(i)]));
        children[size_t(i)].reset();
    }
    return results;
}

QCoro::Task<ShellResult> HelperShell::executeAsync(Job job)
{
    // Deleted from the event loop: the process may still be inside its own signal emission
    // when this coroutine ends, and if the coroutine is dropped early its child is killed.
    QProcess *process = new QProcess;
    bool leftToEnd = false; // a stopped child that would not go yet deletes its process itself
    const auto release = qScopeGuard([process, &leftToEnd] {
        if (!leftToEnd)
            process->deleteLater();
    });
    prepare(*process);
    const std::shared_ptr<KeptOutput> kept = keepOutputOf(*process);
    const QDeadlineTimer deadline(job.limit);
    process->start(job.invocation.program, job.invocation.arguments);
    co_await StartAwaiter(process);
    if (process->error() == QProcess::FailedToStart)
        co_return ShellResult{false, job.failurePrefix + process->errorString(), -1};
    co_await qCoro(*process).waitForFinished(remaining(deadline));
    if (process->state() != QProcess::NotRunning) {
        process->kill();
        co_await qCoro(*process).waitForFinished(kKillGrace);
        if (process->state() != QProcess::NotRunning) {
            leftToEnd = true;
            QObject::connect(process, &QProcess::finished, process, &QObject::deleteLater);
        }
        co_return timedOutResult(job.commandLine, job.limit);
    }
    ShellResult result = resultOf(*process, *kept);
    co_return job.privileged ? adjustPrivileged(std::move(result)) : result;
}

ShellResult HelperShell::run(const QString &command, const QStringList &arguments)
{
    return execute(runJob(command, arguments, TimeLimit::Read));
}

QCoro::Task<ShellResult> HelperShell::runAsync(QString command, QStringList arguments)
{
    return runAsync(std::move(command), std::move(arguments), TimeLimit::Read);
}

QCoro::Task<ShellResult> HelperShell::runPrivilegedAsync(QString commandLine)
{
    return runPrivilegedAsync(std::move(commandLine), TimeLimit::Prompt);
}

QCoro::Task<ShellResult> HelperShell::runAsync(QString command, QStringList arguments, TimeLimit limit)
{
    return executeAsync(runJob(command, arguments, limit));
}

QCoro::Task<ShellResult> HelperShell::runPrivilegedAsync(QString commandLine, TimeLimit limit)
{
    return executeAsync(privilegedJob(commandLine, limit));
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
