#include "support/UDisksStack.h"

#include "StandinHarness.h"
#include "support/Leftovers.h"
#include "support/TestSupport.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QThread>
#include <QXmlStreamReader>

#include <cerrno>
#include <cstring>
#include <functional>

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace standins::testing;

namespace testsupport {

namespace {

constexpr const char *sweepArgument = "--quorvel-sweep-after";
const QString connectionName = QStringLiteral("quorvel-udisks-stack");
const QString rulesDir = QStringLiteral("/etc/polkit-1/rules.d");
const QRegularExpression ruleName(QStringLiteral("^10-quorvel-test-([0-9]+)\\.rules$"));
bool isolated = false;

std::unique_ptr<UDisksStack> &instance()
{
    static std::unique_ptr<UDisksStack> stack;
    return stack;
}

struct Program {
    const char *name;
    QStringList paths;
};
const Program programs[] = {
    {"dbus-daemon", {"/usr/bin/dbus-daemon"}},
    {"polkitd", {"/usr/lib/polkit-1/polkitd"}},
    {"polkit-agent-helper-1", {"/usr/lib/polkit-1/polkit-agent-helper-1"}},
    {"pkttyagent", {"/usr/bin/pkttyagent"}},
    {"pkexec", {"/usr/bin/pkexec"}},
    {"udisksd", {"/usr/libexec/udisks2/udisksd"}},
    {"systemd-udevd", {"/lib/systemd/systemd-udevd", "/usr/lib/systemd/systemd-udevd"}},
    {"udevadm", {"/usr/bin/udevadm", "/bin/udevadm"}},
    {"useradd", {"/usr/sbin/useradd"}},
    {"userdel", {"/usr/sbin/userdel"}},
    {"chpasswd", {"/usr/sbin/chpasswd"}},
};

// Where `name` of the table above is installed; empty when it is not.
QString installed(const char *name)
{
    for (const Program &p : programs)
        if (std::strcmp(p.name, name) == 0)
            for (const QString &path : p.paths)
                if (QFileInfo(path).isExecutable())
                    return path;
    return {};
}

bool commandRuns(const QByteArray &command)
{
    for (const QString &pid : QDir(QStringLiteral("/proc")).entryList({QStringLiteral("[0-9]*")}, QDir::Dirs)) {
        QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
        if (comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed() == command)
            return true;
    }
    return false;
}

QString machineReason()
{
    if (const QString why = realDeviceSkipReason(); !why.isEmpty())
        return why;
    for (const Program &p : programs)
        if (installed(p.name).isEmpty())
            return QStringLiteral("%1 is not installed (scripts/setup test installs it)").arg(QLatin1String(p.name));
    if (!QFileInfo(rulesDir).isDir())
        return QStringLiteral("%1 is missing: polkit takes no local rules").arg(rulesDir);
    if (commandRuns("udisksd"))
        return QStringLiteral("udisksd already runs on this machine: a second one would share its state in "
                              "/run/udisks2 and act on the same devices");
    if (!isolated)
        return QStringLiteral("the test binary's main did not call UDisksStack::prepareProcess, so there is no "
                              "mount namespace for the stack");
    return {};
}

bool waitFor(const std::function<bool()> &condition, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QThread::msleep(50);
    }
    return true;
}

bool udevRuns()
{
    return sh("udevadm control --ping 2>/dev/null").exitCode == 0;
}

// The machine's system bus configuration, with its policy and service files, but: running as
// root (a change of user would clear the parent-death signal that ends it with the test), not
// forking, listening only on `socket`, logging to standard error, and starting nothing on demand
// (above all no udisksd of the machine's own).
QString busConfiguration(const QString &socket)
{
    QFile file(QStringLiteral("/usr/share/dbus-1/system.conf"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QString text = QString::fromUtf8(file.readAll());
    static const QRegularExpression dropped(QStringLiteral(
        "<user>[^<]*</user>|<fork/>|<pidfile>[^<]*</pidfile>|<syslog/>|<servicehelper>[^<]*</servicehelper>|"
        "<standard_system_servicedirs/>"));
    static const QRegularExpression listen(QStringLiteral("<listen>[^<]*</listen>"));
    if (!text.contains(listen))
        return {};
    text.remove(dropped);
    text.replace(listen, QStringLiteral("<listen>unix:path=%1</listen>").arg(socket));
    // Relative to the file's own directory, which this copy is not in.
    text.replace(QStringLiteral("<includedir>system.d</includedir>"),
                 QStringLiteral("<includedir>/usr/share/dbus-1/system.d</includedir>"));
    return text;
}

// The rule for `user`, with every installed action's allow_active default read from its policy.
QString polkitRule(const QString &user)
{
    QJsonObject defaults;
    const QDir actions(QStringLiteral("/usr/share/polkit-1/actions"));
    for (const QString &name : actions.entryList({QStringLiteral("*.policy")}, QDir::Files)) {
        QFile file(actions.filePath(name));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        QXmlStreamReader xml(&file);
        QString action;
        while (!xml.atEnd())
            if (xml.readNext() == QXmlStreamReader::StartElement && xml.name() == QLatin1String("action"))
                action = xml.attributes().value(QLatin1String("id")).toString();
            else if (xml.isStartElement() && xml.name() == QLatin1String("allow_active") && !action.isEmpty())
                defaults[action] = xml.readElementText().trimmed();
    }
    return QStringLiteral(R"(// Written by a Quorvel test run for its throw-away account, removed when the run ends.
(function () {
    var user = "%1";
    var allowActive = %2;
    polkit.addRule(function (action, subject) {
        if (subject.user != user)
            return null;
        polkit.log("quorvel-test " + user + ": " + action.id);
        return allowActive[action.id] || polkit.Result.AUTH_ADMIN;
    });
    polkit.addAdminRule(function (action, subject) {
        return subject.user == user ? ["unix-user:" + user] : null;
    });
})();
)")
        .arg(user, QString::fromUtf8(QJsonDocument(defaults).toJson(QJsonDocument::Compact)));
}

// A process that cleans up after this one once its end closes the pipe, unless told "done"
// first: after a crash, or CTest killing a test that ran out of time. It is in its own session
// and not our child, so that neither ^C nor the killing of our process tree reaches it, and in
// our mount namespace, where it still sees the mounts the run leaves.
int startSweeper()
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return -1;
    const std::string pid = std::to_string(::getpid());
    char *const argv[] = {const_cast<char *>("/proc/self/exe"), const_cast<char *>(sweepArgument),
                          const_cast<char *>(pid.c_str()), nullptr};
    const pid_t child = ::fork();
    if (child == 0) {
        ::setsid();
        if (::fork() == 0) {
            ::dup2(fds[0], STDIN_FILENO);
            const int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, STDOUT_FILENO);
            ::dup2(null, STDERR_FILENO);
            ::execv(argv[0], argv);
        }
        ::_exit(0);
    }
    ::close(fds[0]);
    if (child > 0)
        ::waitpid(child, nullptr, 0);
    return fds[1];
}

void terminate(std::unique_ptr<QProcess> &process)
{
    if (!process)
        return;
    process->terminate();
    if (!process->waitForFinished(10000)) {
        process->kill();
        process->waitForFinished();
    }
    process.reset();
}

} // namespace

void UDisksStack::prepareProcess(int argc, char **argv)
{
    if (argc == 3 && std::strcmp(argv[1], sweepArgument) == 0) {
        QByteArray told;
        char buffer[64];
        for (ssize_t n; (n = ::read(STDIN_FILENO, buffer, sizeof buffer)) > 0;)
            told.append(buffer, n);
        // The run's leftovers are told by its pid being gone, which it is not while a zombie.
        if (told != "done" && waitFor([pid = std::atoll(argv[2])] { return processGone(pid); }, 60000))
            sweepLeftovers();
        std::exit(0);
    }
    // Private propagation: nothing mounted in here shows outside, and the other way round.
    isolated = ::geteuid() == 0 && ::unshare(CLONE_NEWNS) == 0
               && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
}

QString UDisksStack::skipReason()
{
    static const QString reason = [] {
        if (const QString why = machineReason(); !why.isEmpty())
            return why;
        instance().reset(new UDisksStack);
        const QString why = instance()->start();
        if (!why.isEmpty())
            instance().reset();
        return why;
    }();
    return reason;
}

UDisksStack &UDisksStack::shared()
{
    if (const QString why = skipReason(); !why.isEmpty())
        throw std::runtime_error("no udisks2 stack: " + why.toStdString());
    return *instance();
}

void UDisksStack::stopShared()
{
    instance().reset();
}

UDisksStack::~UDisksStack()
{
    stop();
}

QDBusConnection UDisksStack::bus() const
{
    QDBusConnection connection = QDBusConnection::connectToBus(m_busAddress, connectionName);
    if (!connection.isConnected())
        QDBusConnection::disconnectFromBus(connectionName); // so that the next call tries again
    return connection;
}

namespace {
[[noreturn]] void fail(const QString &why)
{
    throw std::runtime_error(why.toStdString());
}
} // namespace

void UDisksStack::bind(const QString &from, const QString &to)
{
    if (!QFileInfo::exists(to)) {
        if (!QDir().mkpath(to))
            fail(QStringLiteral("cannot make %1").arg(to));
        m_madeMountPoints << to;
    }
    if (::mount(from.toLocal8Bit().constData(), to.toLocal8Bit().constData(), nullptr, MS_BIND, nullptr) != 0)
        fail(QStringLiteral("cannot bind %1 over %2: %3").arg(from, to, QString::fromLocal8Bit(std::strerror(errno))));
    m_bound << to;
}

QString UDisksStack::start()
{
    sweepLeftovers();
    m_sweeper = startSweeper();
    const auto owns = [this](const char *name) {
        return [this, name] {
            const QDBusConnection connection = bus();
            return connection.isConnected() && connection.interface()->isServiceRegistered(QLatin1String(name));
        };
    };
    try {
        m_dir = std::make_unique<TempDir>();
        const QString dir = QString::fromStdString(m_dir->path());
        ::chmod(m_dir->path().c_str(), 0755); // the accounts reach the bus socket and /media through it
        for (const char *sub : {"bus", "media", "udisks2"})
            QDir().mkdir(dir + QLatin1Char('/') + QLatin1String(sub));
        ::chmod((m_dir->path() + "/udisks2").c_str(), 0700);
        // Setuid clients connect to /run/dbus/system_bus_socket whatever the environment says.
        for (const auto &[from, to] : {std::pair{"bus", "/run/dbus"}, {"media", "/media"}, {"udisks2", "/run/udisks2"}})
            bind(dir + QLatin1Char('/') + QLatin1String(from), QLatin1String(to));
        m_busAddress = QStringLiteral("unix:path=%1/bus/system_bus_socket").arg(dir);
        const QString configuration = busConfiguration(dir + QStringLiteral("/bus/system_bus_socket"));
        if (configuration.isEmpty())
            fail(QStringLiteral("/usr/share/dbus-1/system.conf is missing or has no <listen>"));
        writeFile(m_dir->path() + "/bus.conf", configuration.toStdString());

        m_account = std::make_unique<TestAccount>(QStringLiteral("t"));
        m_other = std::make_unique<TestAccount>(QStringLiteral("o"));
        for (const TestAccount *account : {m_account.get(), m_other.get()}) {
            const std::string runtime = m_dir->path() + "/runtime-" + std::to_string(account->uid());
            if (::mkdir(runtime.c_str(), 0700) != 0 || ::chown(runtime.c_str(), account->uid(), account->gid()) != 0)
                fail(QStringLiteral("cannot make %1").arg(QString::fromStdString(runtime)));
        }
        // Before polkitd starts, which reads the rules then.
        m_ruleFile = QStringLiteral("%1/10-quorvel-test-%2.rules").arg(rulesDir).arg(::getpid());
        writeFile(m_ruleFile.toStdString(), polkitRule(m_account->name()).toStdString());

        if (!udevRuns()) {
            startDaemon(m_udevd, QStringLiteral("udevd"), installed("systemd-udevd"), {}, udevRuns);
            // A udevd of our own has not seen the disks that are there already. Only disks: udisks2
            // needs no more, and an add event for a network interface could rename it.
            step("udevadm trigger --action=add --subsystem-match=block && udevadm settle --timeout=60");
        }
        startDaemon(m_bus, QStringLiteral("dbus-daemon"), installed("dbus-daemon"),
                    {QStringLiteral("--nofork"), QStringLiteral("--config-file=%1/bus.conf").arg(dir)},
                    [this] { return bus().isConnected(); });
        startDaemon(m_polkitd, QStringLiteral("polkitd"), installed("polkitd"), {}, owns("org.freedesktop.PolicyKit1"));
        startDaemon(m_udisksd, QStringLiteral("udisksd"), installed("udisksd"), {}, owns("org.freedesktop.UDisks2"));
    } catch (const std::exception &e) {
        stop();
        return QString::fromStdString(e.what());
    }
    return {};
}

void UDisksStack::startDaemon(std::unique_ptr<QProcess> &process, const QString &name, const QString &path,
                              const QStringList &arguments, const std::function<bool()> &ready)
{
    process = std::make_unique<QProcess>();
    process->setProcessChannelMode(QProcess::MergedChannels);
    process->setStandardOutputFile(QStringLiteral("%1/%2.log").arg(QString::fromStdString(m_dir->path()), name));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), m_busAddress);
    process->setProcessEnvironment(environment);
    process->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    process->start(path, arguments);
    if (!process->waitForStarted())
        fail(QStringLiteral("%1 did not start: %2").arg(name, process->errorString()));
    bool ended = false; // QProcess learns of the end only in its waitFor calls or an event loop
    if (waitFor([&] { return (ended = process->waitForFinished(0)) || ready(); }, 30000) && !ended)
        return;
    fail(QStringLiteral("%1 %2; it said:\n%3")
             .arg(name, ended ? QStringLiteral("exited with %1").arg(process->exitCode()) : QStringLiteral("was not ready within 30 s"),
                  logTail(name)));
}

QString UDisksStack::logTail(const QString &name) const
{
    QFile log(QStringLiteral("%1/%2.log").arg(QString::fromStdString(m_dir->path()), name));
    if (!log.open(QIODevice::ReadOnly))
        return {};
    const QByteArray text = log.readAll();
    return QString::fromUtf8(text.right(2000)).trimmed();
}

void UDisksStack::stop()
{
    // The volumes first: udisks2 mounts only below our /media.
    if (m_bound.contains(QStringLiteral("/media"))) {
        const auto points = mountPointsWhere(under("/media/"));
        for (auto point = points.rbegin(); point != points.rend(); ++point)
            if (::umount2(point->c_str(), 0) != 0)
                ::umount2(point->c_str(), MNT_DETACH);
    }
    QDBusConnection::disconnectFromBus(connectionName);
    terminate(m_udisksd);
    terminate(m_polkitd);
    terminate(m_bus);
    if (m_udevd) {
        sh("udevadm control --exit");
        terminate(m_udevd);
    }
    if (!m_ruleFile.isEmpty())
        QFile::remove(m_ruleFile);
    m_ruleFile.clear();
    m_account.reset();
    m_other.reset();
    while (!m_bound.isEmpty())
        ::umount2(m_bound.takeLast().toLocal8Bit().constData(), MNT_DETACH);
    while (!m_madeMountPoints.isEmpty())
        QDir().rmdir(m_madeMountPoints.takeLast());
    m_dir.reset();
    if (m_sweeper >= 0) {
        [[maybe_unused]] const auto written = ::write(m_sweeper, "done", 4);
        ::close(m_sweeper);
        m_sweeper = -1;
    }
}

void UDisksStack::sweepLeftovers()
{
    // A killed run's FUSE daemons hold its loop devices, and keep its mount namespace, with the
    // mounts no other namespace sees, alive.
    for (const std::string &loop : loopsWhere(isLeftover)) {
        const QString name = QString::fromStdString(loop.substr(5));
        for (const QString &node : QDir(QStringLiteral("/dev")).entryList({name + QLatin1Char('*')}, QDir::System))
            if (node == name || node.startsWith(name + QLatin1Char('p')))
                for (const QString &holder : processesHolding(QStringLiteral("/dev/") + node))
                    ::kill(holder.section(QLatin1Char(' '), 0, 0).toInt(), SIGKILL);
    }
    removeWhere(isLeftover);
    TestAccount::sweepLeftovers();
    for (const QString &name : QDir(rulesDir).entryList(QDir::Files))
        if (const auto match = ruleName.match(name); match.hasMatch() && processGone(match.captured(1).toLongLong()))
            QFile::remove(rulesDir + QLatin1Char('/') + name);
}

QStringList UDisksStack::requestedActions() const
{
    QFile log(QStringLiteral("%1/polkitd.log").arg(QString::fromStdString(m_dir->path())));
    QStringList actions;
    const QByteArray marker = "quorvel-test " + m_account->name().toUtf8() + ": ";
    if (log.open(QIODevice::ReadOnly))
        for (const QByteArray &line : log.readAll().split('\n'))
            if (const qsizetype at = line.indexOf(marker); at >= 0)
                actions << QString::fromUtf8(line.mid(at + marker.size())).trimmed();
    return actions;
}

void UDisksStack::settle(const std::string &loop, const QStringList &idTypes) const
{
    sh("partx -a /dev/" + loop + " 2>/dev/null"); // fails for partitions that are there already
    std::string nodes;
    for (qsizetype i = 1; i <= idTypes.size(); ++i)
        nodes += " /dev/" + loop + "p" + std::to_string(i);
    // udev probed the partitions when they appeared, before their file systems were made; a
    // change event has it, and so udisks2, look again.
    step("udevadm trigger --action=change" + nodes + " && udevadm settle --timeout=30");
    for (qsizetype i = 0; i < idTypes.size(); ++i) {
        const QString partition = QString::fromStdString(loop) + QLatin1Char('p') + QString::number(i + 1);
        QDBusMessage get = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.UDisks2"), QStringLiteral("/org/freedesktop/UDisks2/block_devices/") + partition,
            QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
        get << QStringLiteral("org.freedesktop.UDisks2.Block") << QStringLiteral("IdType");
        QString seen = QStringLiteral("(no such block device)");
        const bool known = waitFor([&] {
            const QDBusMessage reply = bus().call(get);
            if (reply.type() != QDBusMessage::ReplyMessage)
                return false;
            seen = reply.arguments().value(0).value<QDBusVariant>().variant().toString();
            return idTypes[i].isEmpty() || seen == idTypes[i];
        }, 30000);
        if (!known)
            throw std::runtime_error(QStringLiteral("udisks2 reports IdType %1 for %2, not %3")
                                         .arg(seen, partition, idTypes[i]).toStdString());
    }
}

namespace {
// Whether any account may run `path`: every directory above it searchable by others, and the file
// executable by them.
bool everyoneReaches(const QString &path)
{
    if (!(QFileInfo(path).permissions() & QFile::ExeOther))
        return false;
    for (QDir dir = QFileInfo(path).absoluteDir(); !dir.isRoot(); dir.cdUp())
        if (!(QFileInfo(dir.absolutePath()).permissions() & QFile::ExeOther))
            return false;
    return true;
}
} // namespace

std::unique_ptr<AccountProcess> UDisksStack::run(const TestAccount &account, const QString &path,
                                                 const QStringList &arguments) const
{
    // A build tree in a private directory (as a checkout under mktemp -d) is out of the accounts'
    // reach: they run a copy in ours.
    QString program = path;
    if (!everyoneReaches(path)) {
        program = QStringLiteral("%1/%2").arg(QString::fromStdString(m_dir->path()), QFileInfo(path).fileName());
        if (!QFileInfo::exists(program))
            QFile::copy(path, program);
    }
    return std::make_unique<AccountProcess>(
        account, program, arguments,
        QStringList{QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS=") + m_busAddress,
                    QStringLiteral("XDG_RUNTIME_DIR=%1/runtime-%2").arg(QString::fromStdString(m_dir->path())).arg(account.uid())});
}

} // namespace testsupport
