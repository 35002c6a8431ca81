#pragma once

#include <QString>
#include <QStringList>

#include <mutex>
#include <thread>

#include <sys/types.h>

namespace testsupport {

class TestAccount;

// A polkit authentication agent for one process of `account`, standing in for the password
// dialog of a desktop: pkttyagent, run as the account on a pseudo-terminal of its own, whose
// every "Password:" prompt is answered with the account's password and counted. Authentication
// is real: polkit-agent-helper-1 checks the password through PAM.
class PromptAgent {
public:
    explicit PromptAgent(const TestAccount &account);
    ~PromptAgent();
    PromptAgent(const PromptAgent &) = delete;
    PromptAgent &operator=(const PromptAgent &) = delete;

    // Registers the agent for process `pid`, which must run as the account; blocks until polkit
    // has it. Empty when it has, otherwise why not.
    QString start(qint64 pid);
    void stop();

    int prompts() const;
    // The action of each authentication asked for, in order.
    QStringList actions() const;
    // Everything the agent printed, colours removed: for failure messages.
    QString transcript() const;

private:
    void serve();

    const TestAccount &m_account;
    pid_t m_pid = -1;
    int m_terminal = -1;
    int m_wake[2] = {-1, -1};
    std::thread m_thread;
    mutable std::mutex m_mutex;
    QByteArray m_raw;
    QString m_transcript;
    int m_prompts = 0;
    QStringList m_actions;
};

} // namespace testsupport
