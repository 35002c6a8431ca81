#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

#include <optional>

#include <sys/types.h>

namespace testsupport {

// A throw-away local account, "quorvel-<tag><pid>", with a home directory, a random password
// and no group but its own. It goes again, home and all, when the guard goes; the accounts of a run that was
// killed go with sweepLeftovers(). Root only; the constructor throws when useradd fails.
class TestAccount {
public:
    explicit TestAccount(const QString &tag);
    ~TestAccount();
    TestAccount(const TestAccount &) = delete;
    TestAccount &operator=(const TestAccount &) = delete;

    const QString &name() const { return m_name; }
    const QString &password() const { return m_password; }
    uid_t uid() const { return m_uid; }
    gid_t gid() const { return m_gid; }
    const QString &home() const { return m_home; }

    // Deletes every quorvel-<tag><pid> account whose process is gone, with its processes.
    static void sweepLeftovers();

private:
    QString m_name, m_password, m_home;
    uid_t m_uid = 0;
    gid_t m_gid = 0;
};

// A program running as an account: its own process (the pid an agent registers for), a clean
// login-like environment plus `environment` ("NAME=value"), the account's home as working
// directory. Standard input and output are for lines; standard error is kept apart. It is killed
// when the guard goes, and with the test process.
class AccountProcess : public QProcess {
public:
    AccountProcess(const TestAccount &account, const QString &program, const QStringList &arguments,
                   const QStringList &environment = {});
    ~AccountProcess() override;

    void writeLine(const QString &line);
    // The next line of standard output without its newline; nothing when the program ends or
    // `timeoutMs` passes first.
    std::optional<QString> nextLine(int timeoutMs = 60000);
    // Closes standard input and waits for the end: the exit code, or -1 after a crash or a time-out.
    int finish(int timeoutMs = 60000);
    // Its standard error so far, or why it did not start.
    QString errors();

private:
    QByteArray m_errors;
};

} // namespace testsupport
