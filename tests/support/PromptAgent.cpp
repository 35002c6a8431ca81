#include "support/PromptAgent.h"

#include "support/TestAccount.h"

#include <QFile>
#include <QRegularExpression>

#include <array>
#include <chrono>

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace testsupport {

namespace {

const QRegularExpression colours(QStringLiteral("\x1b\\[[0-9;]*[A-Za-z]"));
const QRegularExpression authenticating(QStringLiteral("AUTHENTICATING FOR (\\S+) ===="));

// "pid,start-time", so that polkit cannot take a recycled pid for the process.
QString processSubject(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return {};
    const QByteArray text = stat.readAll();
    // The 22nd field; the command (2nd) may hold blanks, so count after its closing parenthesis.
    const QList<QByteArray> rest = text.mid(text.lastIndexOf(')') + 2).split(' ');
    return rest.size() > 19 ? QStringLiteral("%1,%2").arg(pid).arg(QString::fromLatin1(rest[19])) : QString();
}

QByteArray readAvailable(int fd)
{
    QByteArray out;
    char buffer[4096];
    while (::poll(std::array{pollfd{fd, POLLIN, 0}}.data(), 1, 0) > 0) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0)
            break;
        out.append(buffer, n);
    }
    return out;
}

} // namespace

PromptAgent::PromptAgent(const TestAccount &account)
    : m_account(account)
{
}

PromptAgent::~PromptAgent()
{
    stop();
}

QString PromptAgent::start(qint64 pid)
{
    const QByteArray subject = processSubject(pid).toLatin1();
    if (subject.isEmpty())
        return QStringLiteral("no process %1 to register an agent for").arg(pid);
    int notify[2];
    if (::pipe2(notify, O_CLOEXEC) != 0 || ::pipe2(m_wake, O_CLOEXEC) != 0)
        return QStringLiteral("pipe failed");

    // Everything the child needs is made before fork: between fork and exec it may only make
    // system calls. No bus address: polkit's helper, which the agent runs, is setuid and takes the
    // standard path whatever the environment says, so the agent finds its bus there too.
    const QByteArray home = "HOME=" + m_account.home().toLocal8Bit(), user = "USER=" + m_account.name().toLocal8Bit(),
                     logname = "LOGNAME=" + m_account.name().toLocal8Bit();
    const char *argv[] = {"/usr/bin/pkttyagent", "--process", subject.constData(), "--notify-fd", "3", nullptr};
    const char *envp[] = {"PATH=/usr/bin:/bin", "LANG=C.UTF-8", "TERM=dumb", home.constData(), user.constData(),
                          logname.constData(), nullptr};
    const uid_t uid = m_account.uid();
    const gid_t gid = m_account.gid();

    m_pid = ::forkpty(&m_terminal, nullptr, nullptr, nullptr);
    if (m_pid == 0) {
        if (notify[1] == 3)
            ::fcntl(3, F_SETFD, 0);
        else
            ::dup2(notify[1], 3);
        if (::setgroups(1, &gid) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0)
            ::_exit(126);
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        ::execve(argv[0], const_cast<char **>(argv), const_cast<char **>(envp));
        ::_exit(127);
    }
    ::close(notify[1]);
    if (m_pid < 0) {
        ::close(notify[0]);
        return QStringLiteral("forkpty failed");
    }
    // pkttyagent closes the descriptor once polkit has registered it, and exits when it cannot.
    pollfd registered{notify[0], POLLIN, 0};
    const int ready = ::poll(&registered, 1, 20000);
    ::close(notify[0]);
    m_raw += readAvailable(m_terminal);
    const QString said = QString::fromUtf8(m_raw).remove(colours).trimmed();
    if (::waitpid(m_pid, nullptr, WNOHANG) == m_pid)
        m_pid = -1;
    if (ready <= 0 || m_pid < 0 || said.contains(QLatin1String("Error"))) {
        stop();
        return QStringLiteral("pkttyagent did not register for %1%2: %3")
            .arg(QString::fromLatin1(subject), ready <= 0 ? QStringLiteral(" within 20 s") : QString(), said);
    }
    m_thread = std::thread([this] { serve(); });
    return {};
}

void PromptAgent::serve()
{
    qsizetype answered = 0; // where the text after the last answer starts
    qsizetype scanned = 0;  // where the lines not looked at yet start
    for (;;) {
        pollfd fds[] = {{m_terminal, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0 || fds[1].revents)
            return;
        char buffer[4096];
        const ssize_t n = ::read(m_terminal, buffer, sizeof buffer);
        if (n <= 0)
            return; // the agent is gone
        std::lock_guard lock(m_mutex);
        m_raw.append(buffer, n);
        m_transcript = QString::fromUtf8(m_raw).remove(colours);
        for (qsizetype end; (end = m_transcript.indexOf(QLatin1Char('\n'), scanned)) >= 0; scanned = end + 1)
            if (const auto match = authenticating.match(m_transcript.mid(scanned, end - scanned)); match.hasMatch())
                m_actions << match.captured(1);
        if (!m_transcript.mid(answered).trimmed().endsWith(QLatin1String("Password:")))
            continue;
        // The agent turns echo off with TCSAFLUSH, which throws away what was typed before:
        // answer only once it has.
        termios modes{};
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (::tcgetattr(m_terminal, &modes) == 0 && (modes.c_lflag & ECHO) && std::chrono::steady_clock::now() < giveUp)
            ::usleep(1000);
        const QByteArray line = m_account.password().toUtf8() + '\n';
        if (::write(m_terminal, line.constData(), line.size()) != line.size())
            return;
        ++m_prompts;
        answered = m_transcript.size();
    }
}

void PromptAgent::stop()
{
    if (m_thread.joinable()) {
        const char wake = 1;
        [[maybe_unused]] const auto written = ::write(m_wake[1], &wake, 1);
        m_thread.join();
    }
    if (m_pid > 0) {
        ::kill(m_pid, SIGTERM);
        ::waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }
    for (int *fd : {&m_terminal, &m_wake[0], &m_wake[1]})
        if (*fd >= 0) {
            ::close(*fd);
            *fd = -1;
        }
}

int PromptAgent::prompts() const
{
    std::lock_guard lock(m_mutex);
    return m_prompts;
}

QStringList PromptAgent::actions() const
{
    std::lock_guard lock(m_mutex);
    return m_actions;
}

QString PromptAgent::transcript() const
{
    std::lock_guard lock(m_mutex);
    return m_transcript;
}

} // namespace testsupport
