#pragma once

#include <QDBusConnection>
#include <QProcess>
#include <QSocketNotifier>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace standins::testing {
class TempDir;
}

namespace testsupport {

// A throw-away local account "quorvel-<tag>" with a home and a random password. It goes, home and
// all, with the guard; one that a killed run left goes when the next run makes it again.
struct TestAccount {
    explicit TestAccount(const QString &tag);
    ~TestAccount();
    QString name, password, home;
    uint uid = 0, gid = 0;
};

// A polkit agent for process `pid` of `account`, standing in for a desktop's password dialog:
// pkttyagent on a terminal of its own, each "Password:" of which is answered from the event loop
// with the account's password and counted. polkit-agent-helper-1 checks it through PAM.
class PromptAgent {
public:
    PromptAgent(const TestAccount &account, qint64 pid);
    ~PromptAgent();
    QString error;      // why polkit did not take the agent; empty when it did
    QString transcript; // what the agent printed, for failure messages
    int prompts = 0;

private:
    void serve();
    QByteArray m_password;
    qsizetype m_answered = 0;
    int m_pid = -1, m_terminal = -1;
    std::unique_ptr<QSocketNotifier> m_notifier;
};

// A real udisks2 of the tests' own: udevd (the machine's when one runs), a bus, polkitd and
// udisksd, and two throw-away accounts. For account() a polkit rule answers every action as for
// a user at an active local desktop and makes the account its own administrator, so that an
// administrator prompt asks for its password; otherAccount() gets nothing, as any other user.
// polkitd also knows the actions of the build tree's privileged helpers (src/platform/helpers).
// udisks2 takes the loop devices of a test's images named removable*.img for removable disks (as
// it takes a USB stick), and every other loop device for a system disk.
//
// The test binary runs in a mount namespace of its own (prepareProcess), in which /run/dbus,
// /media, /run/udisks2 and /run/systemd are the stack's: the bus is at the standard path that
// setuid clients (polkit's helper) use whatever the environment says, and udisks2 leaves nothing
// in the machine's. The destructor undoes the rest; a killed run's leftovers go with the next run.
class UDisksStack {
public:
    // First thing in main, while the process has a single thread: a mount namespace is per thread.
    static void prepareProcess();
    // Starts the shared stack on the first call. Empty when it runs; otherwise why it cannot run
    // here (not root, a program missing, udisks2 of the machine's running, a daemon that did not
    // start, with the end of what it said), for GTEST_SKIP.
    static QString skipReason();
    static UDisksStack &shared() { return *s_shared; } // once skipReason() has said nothing
    static void stopShared() { s_shared.reset(); }
    ~UDisksStack();

    QDBusConnection bus() const;
    const TestAccount &account() const { return *m_account; }
    const TestAccount &otherAccount() const { return *m_other; }

    // After making file systems on the partitions of "loopN": has udev probe them again and waits
    // until udisks2 reports idTypes[i] as partition i+1's IdType; throws when it does not in 30 s.
    void settle(const std::string &loop, const QStringList &idTypes) const;

    // `program` (a copy of it, which any account can reach) run as `account` with only HOME, PATH
    // and LANG set, which it is left to when the test process dies.
    std::unique_ptr<QProcess> run(const TestAccount &account, const QString &program,
                                  const QStringList &arguments = {}) const;

private:
    UDisksStack() = default;
    void start();
    void startDaemon(const QString &path, const QStringList &arguments, const std::function<bool()> &ready);

    std::unique_ptr<standins::testing::TempDir> m_dir;
    QStringList m_made; // directories made for the stack's mounts
    std::unique_ptr<TestAccount> m_account, m_other;
    std::vector<std::unique_ptr<QProcess>> m_daemons;
    static inline std::unique_ptr<UDisksStack> s_shared;
};

} // namespace testsupport
