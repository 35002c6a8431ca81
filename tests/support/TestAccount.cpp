#include "support/TestAccount.h"

#include "StandinHarness.h"
#include "support/Leftovers.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <stdexcept>

#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace testsupport {

namespace {

const QRegularExpression accountName(QStringLiteral("^quorvel-[a-z]+([0-9]+)$"));

// userdel refuses an account that still runs something, and a run that was killed can leave an
// agent or a client behind.
void killProcessesOf(uid_t uid)
{
    for (const QString &pid : QDir(QStringLiteral("/proc")).entryList({QStringLiteral("[0-9]*")}, QDir::Dirs)) {
        QFile status(QStringLiteral("/proc/%1/status").arg(pid));
        if (!status.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray &line : status.readAll().split('\n'))
            if (line.startsWith("Uid:") && line.mid(4).simplified().split(' ').value(0).toUInt() == uid)
                ::kill(pid.toInt(), SIGKILL);
    }
}

void remove(const QString &name, uid_t uid)
{
    killProcessesOf(uid);
    standins::testing::sh("userdel -r -f " + name.toStdString() + " 2>/dev/null");
}

} // namespace

TestAccount::TestAccount(const QString &tag)
    : m_name(QStringLiteral("quorvel-%1%2").arg(tag).arg(::getpid()))
{
    // Letters and digits only: chpasswd reads "name:password" lines, and a shell line carries it.
    const QString alphabet = QStringLiteral("abcdefghijkmnpqrstuvwxyzABCDEFGHJKLMNPQRSTUVWXYZ23456789");
    for (int i = 0; i < 16; ++i)
        m_password += alphabet.at(QRandomGenerator::global()->bounded(int(alphabet.size())));
    const std::string name = m_name.toStdString();
    standins::testing::step("useradd -m -s /bin/sh " + name);
    const passwd *entry = ::getpwnam(name.c_str());
    if (!entry) {
        standins::testing::sh("userdel -r -f " + name);
        throw std::runtime_error("useradd made no account " + name);
    }
    m_uid = entry->pw_uid;
    m_gid = entry->pw_gid;
    m_home = QString::fromLocal8Bit(entry->pw_dir);
    try {
        standins::testing::step("echo '" + name + ":" + m_password.toStdString() + "' | chpasswd");
    } catch (...) {
        remove(m_name, m_uid);
        throw;
    }
}

TestAccount::~TestAccount()
{
    remove(m_name, m_uid);
}

void TestAccount::sweepLeftovers()
{
    QFile passwd(QStringLiteral("/etc/passwd"));
    if (!passwd.open(QIODevice::ReadOnly))
        return;
    for (const QByteArray &line : passwd.readAll().split('\n')) {
        const QList<QByteArray> fields = line.split(':');
        const auto match = accountName.match(QString::fromUtf8(fields.value(0)));
        if (fields.size() > 2 && match.hasMatch() && processGone(match.captured(1).toLongLong()))
            remove(match.captured(0), fields[2].toUInt());
    }
}

AccountProcess::AccountProcess(const TestAccount &account, const QString &program, const QStringList &arguments,
                               const QStringList &environment)
{
    QProcessEnvironment env;
    env.insert(QStringLiteral("PATH"), QStringLiteral("/usr/local/bin:/usr/bin:/bin"));
    env.insert(QStringLiteral("HOME"), account.home());
    env.insert(QStringLiteral("USER"), account.name());
    env.insert(QStringLiteral("LOGNAME"), account.name());
    env.insert(QStringLiteral("SHELL"), QStringLiteral("/bin/sh"));
    env.insert(QStringLiteral("LANG"), QStringLiteral("C.UTF-8"));
    for (const QString &entry : environment)
        env.insert(entry.section(QLatin1Char('='), 0, 0), entry.section(QLatin1Char('='), 1));
    setProcessEnvironment(env);
    setWorkingDirectory(account.home());
    const uid_t uid = account.uid();
    const gid_t gid = account.gid();
    // Runs in the child between fork and exec: system calls only. The parent-death signal comes
    // after setuid, which clears it.
    setChildProcessModifier([uid, gid] {
        if (::setgroups(1, &gid) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0)
            ::_exit(126);
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    });
    start(program, arguments);
    waitForStarted();
}

AccountProcess::~AccountProcess()
{
    if (state() != QProcess::NotRunning) {
        kill();
        waitForFinished();
    }
}

void AccountProcess::writeLine(const QString &line)
{
    write(line.toUtf8() + '\n');
    waitForBytesWritten();
}

std::optional<QString> AccountProcess::nextLine(int timeoutMs)
{
    while (!canReadLine()) {
        m_errors += readAllStandardError();
        if (state() == QProcess::NotRunning || !waitForReadyRead(timeoutMs))
            return canReadLine() ? std::optional(QString::fromUtf8(readLine()).chopped(1)) : std::nullopt;
    }
    return QString::fromUtf8(readLine()).chopped(1);
}

int AccountProcess::finish(int timeoutMs)
{
    closeWriteChannel();
    if (!waitForFinished(timeoutMs) || exitStatus() != QProcess::NormalExit)
        return -1;
    return exitCode();
}

QString AccountProcess::errors()
{
    if (error() == QProcess::FailedToStart)
        return errorString(); // the account may not reach the program, as in a build tree under /root
    m_errors += readAllStandardError();
    return QString::fromUtf8(m_errors);
}

} // namespace testsupport
