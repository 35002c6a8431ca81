#pragma once

#include "support/TestAccount.h"

#include <QDBusConnection>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <string>

class QProcess;

namespace standins::testing {
class TempDir;
}

namespace testsupport {

// A real udisks2 of the tests' own: udevd (the machine's when one runs), a private system bus,
// polkitd and udisksd, with two throw-away accounts. For account() a polkit rule answers every
// action as for an active local desktop user (the action's allow_active default: without logind
// there are no sessions, and polkit would answer allow_any) and names the account its own
// administrator, so an administrator prompt asks for the account's password; every request of
// the account is logged. otherAccount() gets nothing, as any other user of the machine.
//
// The test binary runs in a mount namespace of its own (prepareProcess). In it the stack's bus is
// also at the standard path /run/dbus/system_bus_socket, which setuid clients (pkexec, polkit's
// helper) use whatever DBUS_SYSTEM_BUS_ADDRESS says; /media and /run/udisks2 are the stack's own
// too, so udisks2 leaves nothing in the machine's. Everything is undone by stop(), and after a
// killed run by a sweeper process that outlives it, or failing that by the next run.
class UDisksStack {
public:
    // First thing in main, while the process has a single thread (a mount namespace is per
    // thread): enters the namespace; in the sweeper's own process it does not return.
    static void prepareProcess(int argc, char **argv);

    // Starts the shared stack on the first call. Empty when it runs; otherwise why the stack cannot
    // run here (not root, a program missing, udisks2 of the machine's running, a daemon that did
    // not start, with the end of what it said), for GTEST_SKIP.
    static QString skipReason();
    // The stack of this test binary, started once and used by all of its tests.
    static UDisksStack &shared();
    static void stopShared();

    ~UDisksStack();
    UDisksStack(const UDisksStack &) = delete;
    UDisksStack &operator=(const UDisksStack &) = delete;

    QString busAddress() const { return m_busAddress; }
    QDBusConnection bus() const;
    const TestAccount &account() const { return *m_account; }
    const TestAccount &otherAccount() const { return *m_other; }

    // The actions polkit was asked about for account(), in order, as the rule logged them.
    QStringList requestedActions() const;

    // After making file systems on the partitions of "loopN": adds the partitions, has udev probe
    // them again and settle, and waits until udisks2 reports idTypes[i] as partition i+1's IdType
    // (an empty one: until udisks2 knows the partition). Throws when it does not happen in 30 s.
    void settle(const std::string &loop, const QStringList &idTypes) const;

    // Starts `program` as `account` with this stack's bus and a runtime directory of its own; a
    // copy of it when the account could not reach the program where it is.
    std::unique_ptr<AccountProcess> run(const TestAccount &account, const QString &program,
                                        const QStringList &arguments = {}) const;

private:
    UDisksStack() = default;
    QString start();
    void stop();
    // These two throw std::runtime_error with the reason when they fail.
    void bind(const QString &from, const QString &to);
    void startDaemon(std::unique_ptr<QProcess> &process, const QString &name, const QString &path,
                        const QStringList &arguments, const std::function<bool()> &ready);
    QString logTail(const QString &name) const;
    static void sweepLeftovers();

    std::unique_ptr<standins::testing::TempDir> m_dir;
    QString m_busAddress;
    QStringList m_bound, m_madeMountPoints;
    std::unique_ptr<TestAccount> m_account, m_other;
    QString m_ruleFile;
    std::unique_ptr<QProcess> m_udevd, m_bus, m_polkitd, m_udisksd;
    int m_sweeper = -1; // the pipe whose end tells the sweeper to clean up
};

} // namespace testsupport
