// Notifications over a private D-Bus daemon with a recording org.freedesktop.Notifications
// service (or none at all).
#include "app/FreedesktopNotifications.h"

#include "support/TestSupport.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

// A bus of the test's own: no service files, so nothing is started behind the test's back.
class PrivateBus {
public:
    PrivateBus()
    {
        const QString daemon = QStandardPaths::findExecutable("dbus-daemon");
        if (daemon.isEmpty()) {
            m_skipReason = "dbus-daemon is not installed (Debian: dbus)";
            return;
        }
        const QString config = m_dir.filePath("bus.conf");
        QFile file(config);
        file.open(QIODevice::WriteOnly);
        file.write("<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                   " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                   "<busconfig><type>session</type><listen>unix:dir=" + m_dir.path().toUtf8() + "</listen>"
                   "<auth>EXTERNAL</auth><policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
                   "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n");
        file.close();
        m_daemon.setProgram(daemon);
        m_daemon.setArguments({"--config-file=" + config, "--print-address", "--nofork"});
        m_daemon.setProcessChannelMode(QProcess::SeparateChannels);
        m_daemon.start();
        if (!m_daemon.waitForStarted() || !m_daemon.waitForReadyRead(10000)) {
            m_skipReason = "dbus-daemon did not start: " + m_daemon.readAllStandardError();
            return;
        }
        m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
    }
    ~PrivateBus()
    {
        for (const QString &name : m_connections)
            QDBusConnection::disconnectFromBus(name);
        m_daemon.terminate();
        m_daemon.waitForFinished(5000);
    }
    QString skipReason() const { return m_skipReason; }

    QDBusConnection connect(const QString &name)
    {
        m_connections << name;
        return QDBusConnection::connectToBus(m_address, name);
    }

private:
    QTemporaryDir m_dir;
    QProcess m_daemon;
    QString m_address;
    QString m_skipReason;
    QStringList m_connections;
};

// Records every call; refuses Notify with an error while `refuse` is set.
class RecordingServer : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    struct Request {
        QString appName;
        uint replacesId;
        QString appIcon;
        QString summary;
        QString body;
        QStringList actions;
        QVariantMap hints;
        int expireTimeout;
    };
    QList<Request> notifications;
    int capabilityRequests = 0;
    bool refuse = false;

public Q_SLOTS:
    uint Notify(const QString &appName, uint replacesId, const QString &appIcon, const QString &summary,
                const QString &body, const QStringList &actions, const QVariantMap &hints, int expireTimeout)
    {
        if (refuse) {
            sendErrorReply("org.freedesktop.Notifications.Error.Refused", "notifications are switched off");
            return 0;
        }
        notifications.append({appName, replacesId, appIcon, summary, body, actions, hints, expireTimeout});
        return uint(notifications.size());
    }
    QStringList GetCapabilities()
    {
        ++capabilityRequests;
        return {"body", "sound"};
    }
};

struct NotificationsFixture : ::testing::Test {
    std::unique_ptr<PrivateBus> bus;
    RecordingServer server;

    void SetUp() override
    {
        bus = std::make_unique<PrivateBus>();
        if (!bus->skipReason().isEmpty())
            GTEST_SKIP() << bus->skipReason().toStdString();
    }
    void TearDown() override { bus.reset(); }

    void registerServer()
    {
        QDBusConnection connection = bus->connect("server");
        ASSERT_TRUE(connection.isConnected());
        ASSERT_TRUE(connection.registerObject("/org/freedesktop/Notifications", &server, QDBusConnection::ExportAllSlots));
        ASSERT_TRUE(connection.registerService("org.freedesktop.Notifications"));
    }
    // The log lines written until `condition` holds (or a few seconds passed).
    static QStringList logLinesUntil(const std::function<bool()> &condition, int timeoutMs = 10000)
    {
        testing::internal::CaptureStdout();
        testsupport::processEventsUntil(condition, timeoutMs);
        const QString out = QString::fromStdString(testing::internal::GetCapturedStdout());
        return out.split('\n', Qt::SkipEmptyParts);
    }
};

const QRegularExpression kUuid("^[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$");

} // namespace

TEST_F(NotificationsFixture, NotifyCarriesTheTextsTheApplicationAndTheDefaultSound)
{
    registerServer();
    FreedesktopNotifications notifications(bus->connect("client"));
    // The service answers: nothing is logged, also once the answer is back.
    notifications.requestNotificationAuthorization();
    QElapsedTimer clock;
    clock.start();
    EXPECT_TRUE(logLinesUntil([&] { return server.capabilityRequests == 1 && clock.elapsed() > 300; }).isEmpty());
    EXPECT_EQ(server.capabilityRequests, 1);

    notifications.sendNotification("取り出し成功", "「Data」を安全に取り出したよ！");
    ASSERT_TRUE(testsupport::processEventsUntil([&] { return server.notifications.size() == 1; }));
    const RecordingServer::Request &sent = server.notifications.first();
    EXPECT_EQ(sent.appName, "Quorvel NTFS Mount");
    EXPECT_EQ(sent.replacesId, 0u);
    EXPECT_EQ(sent.appIcon, "drive-optical");
    EXPECT_EQ(sent.summary, "取り出し成功");
    EXPECT_EQ(sent.body, "「Data」を安全に取り出したよ！");
    EXPECT_TRUE(sent.actions.isEmpty());
    EXPECT_FALSE(sent.hints.contains("suppress-sound"));
    EXPECT_EQ(sent.expireTimeout, -1);
}

TEST_F(NotificationsFixture, TwoIdenticalNotificationsAreBothSentUnderTheirOwnIdentifiers)
{
    registerServer();
    FreedesktopNotifications notifications(bus->connect("client"));
    const QString first = notifications.post("マウント成功", "「Data」を書き込み可能にしたよ、お兄ちゃん！");
    const QString second = notifications.post("マウント成功", "「Data」を書き込み可能にしたよ、お兄ちゃん！");
    ASSERT_TRUE(testsupport::processEventsUntil([&] { return server.notifications.size() == 2; }));
    EXPECT_EQ(server.notifications[0].body, server.notifications[1].body);
    EXPECT_EQ(server.notifications[1].replacesId, 0u);
    EXPECT_TRUE(kUuid.match(first).hasMatch()) << first.toStdString();
    EXPECT_TRUE(kUuid.match(second).hasMatch()) << second.toStdString();
    EXPECT_NE(first, second);
}

TEST_F(NotificationsFixture, ARefusedNotificationIsLoggedWithItsRequest)
{
    registerServer();
    server.refuse = true;
    FreedesktopNotifications notifications(bus->connect("client"));
    QString identifier;
    const QStringList log = logLinesUntil([&] {
        if (identifier.isEmpty())
            identifier = notifications.post("取り出し失敗", "Failed to unmount: busy");
        return false;
    }, 1500);
    EXPECT_EQ(log, QStringList({"Notification error: notifications are switched off (request " + identifier + ")"}));
}

TEST_F(NotificationsFixture, NoServiceOnTheBusIsLoggedForBothCalls)
{
    FreedesktopNotifications notifications(bus->connect("client"));
    bool asked = false;
    QStringList log = logLinesUntil([&] {
        if (!asked) {
            notifications.requestNotificationAuthorization();
            notifications.sendNotification("マウント成功", "x");
            asked = true;
        }
        return false;
    }, 1500);
    ASSERT_EQ(log.size(), 2);
    std::sort(log.begin(), log.end());
    EXPECT_TRUE(log[0].startsWith("Notification auth error: The name org.freedesktop.Notifications was not provided"))
        << log[0].toStdString();
    EXPECT_TRUE(log[1].startsWith("Notification error: The name org.freedesktop.Notifications was not provided"))
        << log[1].toStdString();
}

TEST_F(NotificationsFixture, NoBusAtAllIsLoggedAtOnce)
{
    FreedesktopNotifications notifications(QDBusConnection::connectToBus("unix:path=/nonexistent/bus", "nowhere"));
    testing::internal::CaptureStdout();
    notifications.requestNotificationAuthorization();
    notifications.sendNotification("マウント成功", "x");
    const QStringList log = QString::fromStdString(testing::internal::GetCapturedStdout()).split('\n', Qt::SkipEmptyParts);
    QDBusConnection::disconnectFromBus("nowhere");
    ASSERT_EQ(log.size(), 2);
    EXPECT_TRUE(log[0].startsWith("Notification auth error: ")) << log[0].toStdString();
    EXPECT_GT(log[0].size(), QString("Notification auth error: ").size());
    EXPECT_TRUE(log[1].startsWith("Notification error: ")) << log[1].toStdString();
}

#include "FreedesktopNotificationsTest.moc"
