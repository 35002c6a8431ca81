#pragma once

#include "shell/CommandRunner.h"

#include <QCoro/QCoroTimer>
#include <QHash>
#include <QList>
#include <QMutex>
#include <QString>

#include <chrono>
#include <functional>
#include <ostream>
#include <optional>

// A command runner for tests: answers from a script and records every command line in order.
// Thread-safe, since scans run their detail reads on a background thread.
class ScriptedRunner : public CommandRunner {
public:
    enum class Kind { Run, Privileged, Launch };
    struct Call {
        Kind kind;
        QString line; // the joined line for Run and Launch, the raw line for Privileged
        // What the caller asked for; by default what the two-argument forms ask for.
        TimeLimit limit = kind == Kind::Privileged ? TimeLimit::Prompt : TimeLimit::Read;
        friend bool operator==(const Call &, const Call &) = default;
        friend void PrintTo(const Call &call, std::ostream *os)
        {
            static const char *const kinds[] = {"run", "privileged", "launch"};
            *os << kinds[int(call.kind)] << ": " << call.line.toStdString() << " (limit " << int(call.limit) << ')';
        }
    };
    // Consulted first, unlocked (it may block a background thread on purpose); returning nothing
    // falls through to the answers below.
    using Handler = std::function<std::optional<ShellResult>(const Call &)>;

    static ShellResult ok(const QString &output = QString()) { return {true, output, 0}; }
    static ShellResult fail(const QString &output = QString(), int code = 1) { return {false, output, code}; }

    // Exact line → answer; lines nothing answers succeed silently.
    void on(const QString &line, ShellResult result)
    {
        QMutexLocker lock(&m_mutex);
        m_answers.insert(line, std::move(result));
    }
    void setHandler(Handler handler)
    {
        QMutexLocker lock(&m_mutex);
        m_handler = std::move(handler);
    }
    // Each awaitable run takes this long (a timer, so the event loop keeps running).
    void setAsyncDelay(std::chrono::milliseconds delay) { m_delay = delay; }

    // A copy of its own: a shared one would be detached by the reader while a background
    // thread appends.
    QList<Call> calls() const
    {
        QMutexLocker lock(&m_mutex);
        return QList<Call>(m_calls.cbegin(), m_calls.cend());
    }
    QStringList lines() const
    {
        QStringList out;
        for (const Call &c : calls())
            out << c.line;
        return out;
    }
    void clearCalls()
    {
        QMutexLocker lock(&m_mutex);
        m_calls.clear();
    }

    ShellResult run(const QString &command, const QStringList &arguments) override
    {
        return answer({Kind::Run, joinCommandLine(command, arguments)});
    }
    QCoro::Task<ShellResult> runAsync(QString command, QStringList arguments) override
    {
        return answerLater({Kind::Run, joinCommandLine(command, arguments)});
    }
    QCoro::Task<ShellResult> runPrivilegedAsync(QString commandLine) override
    {
        return answerLater({Kind::Privileged, commandLine});
    }
    QCoro::Task<ShellResult> runAsync(QString command, QStringList arguments, TimeLimit limit) override
    {
        return answerLater({Kind::Run, joinCommandLine(command, arguments), limit});
    }
    QCoro::Task<ShellResult> runPrivilegedAsync(QString commandLine, TimeLimit limit) override
    {
        return answerLater({Kind::Privileged, commandLine, limit});
    }
    void launch(const QString &command, const QStringList &arguments) override
    {
        answer({Kind::Launch, joinCommandLine(command, arguments)});
    }

private:
    QCoro::Task<ShellResult> answerLater(Call call)
    {
        if (m_delay.count() > 0)
            co_await QCoro::sleepFor(m_delay);
        co_return answer(call);
    }
    ShellResult answer(const Call &call)
    {
        QMutexLocker lock(&m_mutex);
        m_calls.append(call);
        const Handler handler = m_handler;
        lock.unlock();
        if (const auto scripted = handler ? handler(call) : std::nullopt)
            return *scripted;
        lock.relock();
        return m_answers.value(call.line, ok());
    }

    mutable QMutex m_mutex;
    QList<Call> m_calls;
    QHash<QString, ShellResult> m_answers;
    Handler m_handler;
    std::chrono::milliseconds m_delay{0};
};
