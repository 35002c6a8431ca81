#include "support/UDisksStack.h"

#include <grp.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace testsupport {

PromptAgent::PromptAgent(const TestAccount &account, qint64 pid)
    : m_password(account.password.toUtf8() + '\n')
{
    // All the child needs is made before the fork: after it, only system calls. No bus address:
    // polkit's helper is setuid and takes the standard path, where the agent finds the bus too.
    int notify[2];
    [[maybe_unused]] const int piped = ::pipe(notify);
    const std::string subject = std::to_string(pid), fd = std::to_string(notify[1]);
    m_pid = ::forkpty(&m_terminal, nullptr, nullptr, nullptr);
    if (m_pid == 0) {
        const char *environment[] = {"PATH=/usr/bin:/bin", "LANG=C", "TERM=dumb", nullptr};
        if (::setgroups(1, &account.gid) == 0 && ::setgid(account.gid) == 0 && ::setuid(account.uid) == 0
            && ::prctl(PR_SET_PDEATHSIG, SIGTERM) == 0)
            ::execle("/usr/bin/pkttyagent", "pkttyagent", "--process", subject.c_str(), "--notify-fd", fd.c_str(),
                     nullptr, environment);
        ::_exit(127);
    }
    ::close(notify[1]);
    // pkttyagent closes the descriptor once polkit has registered it, and exits when it cannot.
    pollfd registered{notify[0], POLLIN, 0};
    const bool answered = ::poll(&registered, 1, 20000) > 0;
    ::close(notify[0]);
    if (!answered || ::waitpid(m_pid, nullptr, WNOHANG) != 0) {
        error = QStringLiteral("pkttyagent did not register for process %1 within 20 s").arg(pid);
        return;
    }
    m_notifier = std::make_unique<QSocketNotifier>(m_terminal, QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, m_notifier.get(), [this] { serve(); });
}

PromptAgent::~PromptAgent()
{
    m_notifier.reset();
    if (m_pid > 0) {
        ::kill(m_pid, SIGTERM);
        ::waitpid(m_pid, nullptr, 0);
    }
    ::close(m_terminal);
}

void PromptAgent::serve()
{
    char buffer[4096];
    const ssize_t n = ::read(m_terminal, buffer, sizeof buffer);
    if (n <= 0)
        return m_notifier->setEnabled(false); // the agent is gone
    transcript += QString::fromUtf8(buffer, n);
    if (!transcript.mid(m_answered).trimmed().endsWith(QLatin1String("Password:")))
        return;
    // The agent turns echo off with TCSAFLUSH, which throws away what was typed before: answer
    // only once it has.
    termios modes{};
    for (int i = 0; i < 5000 && ::tcgetattr(m_terminal, &modes) == 0 && (modes.c_lflag & ECHO); ++i)
        ::usleep(1000);
    if (::write(m_terminal, m_password.constData(), m_password.size()) == m_password.size())
        ++prompts;
    m_answered = transcript.size();
}

} // namespace testsupport
