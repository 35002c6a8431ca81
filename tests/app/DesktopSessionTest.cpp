// The application's program as a desktop session starts it: on a virtual display and a session bus
// of the test's own, the test being the tray host, and with no system bus, so that the disks come
// from the stand-ins, which only read.
#include "support/TestSupport.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QProcess>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <csignal>

using testsupport::processEventsUntil;

namespace {

const QString kTitle = "Quorvel NTFS Mount";

// A tray host's StatusNotifierWatcher: the bus names of the items that registered.
class TrayHost : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ isHostRegistered)

public:
    QStringList items;
    bool isHostRegistered() const { return true; }

public Q_SLOTS:
    void RegisterStatusNotifierItem(const QString &item) { items << item; }
};

} // namespace

struct DesktopSession : ::testing::Test {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    std::vector<std::unique_ptr<QProcess>> processes;
    TrayHost host;

    void SetUp() override
    {
        for (const char *tool : {"dbus-daemon", "Xvfb", "xdotool"})
            if (QStandardPaths::findExecutable(tool).isEmpty())
                GTEST_SKIP() << tool << " is not installed (scripts/setup test installs it)";
        const QString bus = firstLine(start("dbus-daemon", {"--session", "--print-address", "--nofork"}));
        environment.insert("DISPLAY", ":" + firstLine(start("Xvfb", {"-displayfd", "1", "-nolisten", "tcp", "-noreset"})));
        environment.insert("DBUS_SESSION_BUS_ADDRESS", bus);
        environment.insert("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/system_bus_socket");
        environment.insert("QT_QPA_PLATFORM", "xcb");
        environment.insert("QUORVEL_STARTUP_MARK", "1"); // "startup complete" once the window is up
        QDBusConnection::connectToBus(bus, "tray host").registerObject("/StatusNotifierWatcher", &host, QDBusConnection::ExportAllContents);
        ASSERT_TRUE(QDBusConnection("tray host").registerService("org.kde.StatusNotifierWatcher"));
    }
    void TearDown() override
    {
        for (const auto &process : processes)
            process->kill(), process->waitForFinished();
        QDBusConnection::disconnectFromBus("tray host");
    }

    QProcess &start(const QString &program, const QStringList &arguments = {})
    {
        QProcess &process = *processes.emplace_back(std::make_unique<QProcess>());
        process.setProcessEnvironment(environment);
        process.start(program, arguments);
        return process;
    }
    static QString firstLine(QProcess &process) { return process.waitForReadyRead(10000) ? process.readLine().trimmed() : ""; }
    static bool waitForLine(QProcess &process, const QByteArray &line)
    {
        return processEventsUntil([&] { return process.peek(1 << 20).contains(line + '\n'); });
    }
    QString x(const QStringList &arguments)
    {
        QProcess &tool = start("xdotool", arguments);
        return tool.waitForFinished() ? tool.readAllStandardOutput().trimmed() : "";
    }
};

// The launcher clicked twice, or once more while the application sits in the tray: the second
// start hands over to the first and ends, and the first brings its window in front. The tray host
// shows the one item by the application's name, as its title and as its identifier.
TEST_F(DesktopSession, ASecondStartHandsOverToTheFirstAndEnds)
{
    QProcess &first = start(QUORVEL_TEST_APP);
    ASSERT_TRUE(waitForLine(first, "startup complete"));
    ASSERT_TRUE(processEventsUntil([&] { return host.items.size() == 1; }));
    for (const QString property : {"Title", "Id"}) {
        QDBusMessage get = QDBusMessage::createMethodCall(host.items[0], "/StatusNotifierItem", "org.freedesktop.DBus.Properties", "Get");
        const QDBusMessage reply = QDBusConnection("tray host").call(get << "org.kde.StatusNotifierItem" << property);
        EXPECT_EQ(reply.arguments().value(0).value<QDBusVariant>().variant().toString(), kTitle) << property.toStdString();
    }
    const QString window = x({"search", "--onlyvisible", "--name", "^" + kTitle + "$"});
    // The focus on the root window, then the pointer over the window: the application has seen a
    // moment later than the focus change, as the X server asks of an application taking the focus.
    x({"search", "--maxdepth", "0", "", "windowfocus", "mousemove", "--window", window, "10", "10"});
    ASSERT_NE(x({"getwindowfocus"}), window);

    QProcess &second = start(QUORVEL_TEST_APP);
    ASSERT_TRUE(processEventsUntil([&] { return second.state() == QProcess::NotRunning; }));
    EXPECT_TRUE(second.exitStatus() == QProcess::NormalExit && second.exitCode() == 0);
    EXPECT_EQ(second.readAllStandardOutput(), ""); // its log: nothing to report
    EXPECT_EQ(first.state(), QProcess::Running);
    QCoreApplication::processEvents();
    EXPECT_EQ(host.items.size(), 1);
    EXPECT_EQ(x({"search", "--onlyvisible", "--name", "^" + kTitle + "$"}), window);
    EXPECT_EQ(x({"getwindowfocus"}), window);
}

// No start waits for good where nobody can answer: with the name's owner stopped, and without a
// session bus, the application starts on its own.
TEST_F(DesktopSession, WithoutAnAnswerTheApplicationStartsOnItsOwn)
{
    QProcess &stopped = start(QUORVEL_TEST_APP);
    ASSERT_TRUE(waitForLine(stopped, "startup complete"));
    ::kill(pid_t(stopped.processId()), SIGSTOP);
    EXPECT_TRUE(waitForLine(start(QUORVEL_TEST_APP), "startup complete"));
    ::kill(pid_t(stopped.processId()), SIGCONT);
    environment.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/session_bus_socket");
    EXPECT_TRUE(waitForLine(start(QUORVEL_TEST_APP), "startup complete"));
}

#include "DesktopSessionTest.moc"
