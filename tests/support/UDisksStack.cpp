#include "support/UDisksStack.h"

#include "StandinHarness.h"
#include "support/TestSupport.h"

#include <QDBusConnectionInterface>
#include <QDir>

#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace standins::testing;

namespace testsupport {

namespace {

const QString kRule = QStringLiteral("/etc/polkit-1/rules.d/10-quorvel-test.rules");
const QString kUdevRule = QStringLiteral("/run/udev/rules.d/99-quorvel-test.rules");
const char *const kActions = "/usr/share/polkit-1/actions";
const QString kConnection = QStringLiteral("quorvel-udisks-stack");
// One of each package the stack needs.
const char *const kPrograms[] = {"/usr/bin/dbus-daemon", "/usr/lib/polkit-1/polkitd", "/usr/libexec/udisks2/udisksd", "/usr/bin/udevadm", "/usr/sbin/useradd"};
bool isolated = false;

// The rule for `user` (support/udisks-stack.rules), with each action's allow_active default.
QString polkitRule(const QString &user)
{
    const std::string defaults = sh(R"(awk -F'"' '/<action id=/ {a = $2} /<allow_active>/ {v = $0; )"
                                    R"(gsub(/.*<allow_active>|<\/allow_active>.*/, "", v); printf "%s\"%s\": \"%s\"", s, a, v; )"
                                    R"(s = ", "}' /usr/share/polkit-1/actions/*.policy)").standardOutput;
    QFile rule(QStringLiteral(QUORVEL_TEST_SOURCE_DIR "/support/udisks-stack.rules"));
    rule.open(QIODevice::ReadOnly);
    return QString::fromUtf8(rule.readAll()).arg(user, QString::fromStdString(defaults));
}

} // namespace

void UDisksStack::prepareProcess()
{
    // Private propagation: nothing mounted in here shows outside, and the other way round. Where
    // / is no mount point (a chroot) it cannot be made private, and the stack must not start.
    isolated = ::geteuid() == 0 && ::unshare(CLONE_NEWNS) == 0
               && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
}

QString UDisksStack::skipReason()
{
    static const QString reason = []() -> QString {
        if (const QString why = realDeviceSkipReason(); !why.isEmpty())
            return why;
        for (const char *program : kPrograms)
            if (!QFileInfo(program).isExecutable())
                return QStringLiteral("%1 is not installed (scripts/setup test installs it)").arg(program);
        if (sh("grep -qsx udisksd /proc/[0-9]*/comm").exitCode == 0)
            return QStringLiteral("udisksd already runs on this machine: a second one would act on the same devices");
        if (!isolated)
            return QStringLiteral("no mount namespace with private mounts for the stack: / is no mount point here (a "
                                  "chroot?), or main did not call UDisksStack::prepareProcess");
        s_shared.reset(new UDisksStack);
        try {
            s_shared->start();
        } catch (const std::exception &e) {
            s_shared.reset();
            return QString::fromStdString(e.what());
        }
        return {};
    }();
    return reason;
}

QDBusConnection UDisksStack::bus() const
{
    QDBusConnection connection =
        QDBusConnection::connectToBus(QStringLiteral("unix:path=/run/dbus/system_bus_socket"), kConnection);
    if (!connection.isConnected())
        QDBusConnection::disconnectFromBus(kConnection); // so that the next call tries again
    return connection;
}

void UDisksStack::start()
{
    removeWhere(isLeftover); // a killed run's mounts, loop devices and files
    m_dir = std::make_unique<TempDir>();
    ::chmod(m_dir->path().c_str(), 0755); // the accounts run copies of programs from here
    // An empty /run/systemd: no logind, whose sessions the polkit rule stands in for. (Where the
    // machine's logind, or a directory of seats it left, shows, udisks2 looks for the user's seat
    // there, finds none, and asks the password of an administrator for any disk not a system one.)
    for (const QString path : {"/run/dbus", "/media", "/run/udisks2", "/run/systemd"}) {
        if (QDir().mkdir(path))
            m_made << path;
        step("mount -t tmpfs -o mode=0755 quorvel-udisks-stack " + path.toStdString());
    }
    m_account = std::make_unique<TestAccount>(QStringLiteral("user"));
    m_other = std::make_unique<TestAccount>(QStringLiteral("other"));
    // The machine's polkit actions and the one of the build tree's privileged helper (pkexec
    // matches its path exactly), from a copy mounted in this namespace alone: nothing of it shows
    // outside, or stays after a killed run.
    const std::string actions = *m_dir / "actions";
    step("mkdir " + actions + " && cp " + kActions + "/*.policy " QUORVEL_TEST_BUILD_TREE_POLICY " " + actions
         + " && mount --bind " + actions + " " + kActions);
    writeFile(kRule.toStdString(), polkitRule(m_account->name).toStdString()); // read as polkitd starts
    // Not a system disk: the hint that udisks2 gives a USB stick (and asks no password to mount it).
    writeFile(kUdevRule.toStdString(), "# A Quorvel test run's; removed when the run ends.\nSUBSYSTEM==\"block\", "
              "ATTRS{loop/backing_file}==\"/tmp/quorvel-standins-test-*/removable*.img\", ENV{UDISKS_SYSTEM}=\"0\"\n");

    const auto udevRuns = [] { return sh("udevadm control --ping").exitCode == 0; };
    if (!udevRuns()) {
        startDaemon(QStringLiteral("/lib/systemd/systemd-udevd"), {}, udevRuns);
        // It has not seen the disks there already. Only disks: an add event for a network
        // interface could rename it.
        step("udevadm trigger --action=add --subsystem-match=block && udevadm settle --timeout=60");
    }
    step("udevadm control --reload"); // the machine's udevd has not read the rule above yet
    startDaemon(QStringLiteral("/usr/bin/dbus-daemon"),
                {QStringLiteral("--nofork"), QStringLiteral("--config-file=" QUORVEL_TEST_SOURCE_DIR "/support/udisks-stack-bus.conf")},
                [this] { return bus().isConnected(); });
    for (const auto &[path, name] : {std::pair{"/usr/lib/polkit-1/polkitd", "org.freedesktop.PolicyKit1"},
                                     std::pair{"/usr/libexec/udisks2/udisksd", "org.freedesktop.UDisks2"}})
        startDaemon(path, {}, [this, name] { return bus().interface()->isServiceRegistered(QLatin1String(name)).value(); });
}

void UDisksStack::startDaemon(const QString &path, const QStringList &arguments, const std::function<bool()> &ready)
{
    QProcess &daemon = *m_daemons.emplace_back(std::make_unique<QProcess>());
    const QString log = QString::fromStdString(*m_dir / QFileInfo(path).fileName().toStdString()) + ".log";
    daemon.setProcessChannelMode(QProcess::MergedChannels);
    daemon.setStandardOutputFile(log);
    daemon.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); }); // ends with the test
    daemon.start(path, arguments);
    bool ended = false; // QProcess learns of the end only in its waitFor calls
    if (processEventsUntil([&] { return (ended = daemon.waitForFinished(0)) || ready(); }, 30000) && !ended)
        return;
    QFile said(log);
    said.open(QIODevice::ReadOnly);
    throw std::runtime_error((path + (ended ? " exited" : " was not ready within 30 s") + "; it said:\n"
                              + QString::fromUtf8(said.readAll().right(2000))).toStdString());
}

UDisksStack::~UDisksStack()
{
    QDBusConnection::disconnectFromBus(kConnection);
    for (; !m_daemons.empty(); m_daemons.pop_back()) { // udisksd first, udevd last
        m_daemons.back()->terminate();
        m_daemons.back()->waitForFinished(10000); // else killed as the QProcess goes
    }
    QFile::remove(kRule);
    QFile::remove(kUdevRule);
    ::umount2(kActions, MNT_DETACH);
    m_account.reset();
    m_other.reset();
    for (const QString &path : m_made)
        if (::umount2(path.toLocal8Bit().constData(), MNT_DETACH) == 0)
            QDir().rmdir(path);
}

void UDisksStack::settle(const std::string &loop, const QStringList &idTypes) const
{
    sh("partx -a /dev/" + loop + " 2>/dev/null"); // fails for partitions that are there already
    // udev probed the partitions when they appeared, before their file systems were made: a change
    // event has it, and so udisks2, look again.
    step("udevadm trigger --action=change /dev/" + loop + "p* && udevadm settle --timeout=30");
    for (qsizetype i = 0; i < idTypes.size(); ++i) {
        const std::string node = "/dev/" + loop + "p" + std::to_string(i + 1), type = idTypes[i].toStdString();
        step("for i in $(seq 300); do udisksctl info -b " + node + " 2>/dev/null | grep -Eq '^ +IdType: +" + type
             + "$' && exit 0; sleep 0.1; done; echo udisks2 does not report " + node + " as " + type + "; exit 1");
    }
}

std::unique_ptr<QProcess> UDisksStack::run(const TestAccount &account, const QString &program,
                                           const QStringList &arguments) const
{
    // A build tree in a private directory (a checkout under mktemp -d) is out of the accounts' reach.
    const QString copy = QString::fromStdString(*m_dir / QFileInfo(program).fileName().toStdString());
    QFile::copy(program, copy);
    auto process = std::make_unique<QProcess>();
    process->setWorkingDirectory(account.home);
    process->start(QStringLiteral("/usr/bin/setpriv"),
                   QStringList{"--reuid=" + QString::number(account.uid), "--regid=" + QString::number(account.gid),
                               "--clear-groups", "--pdeathsig=KILL", "--", "/usr/bin/env", "-i", "HOME=" + account.home,
                               "PATH=/usr/bin:/bin", "LANG=C.UTF-8", copy}
                       + arguments);
    process->waitForStarted();
    return process;
}

} // namespace testsupport
