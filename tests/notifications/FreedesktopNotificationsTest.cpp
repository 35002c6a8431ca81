// Notifications over a private D-Bus daemon with a recording org.freedesktop.Notifications
// service (or none at all).
#include "notifications/FreedesktopNotifications.h"

#include "support/TestSupport.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

// Records every call; refuses Notify with an error while `refuse` is set.
class RecordingServer : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    QList<QVariantList> notifications; // the arguments of each Notify
    int capabilityRequests = 0;
    QStringList capabilities = {"body", "sound"};
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
        return capabilities;
    }

Q_SIGNALS:
    void ActionInvoked(uint id, const QString &actionKey);
    void NotificationClosed(uint id, uint reason);
};

// A bus of the test's own (no service files, so nothing is started behind the test's back),
// optionally with the recording service on it.
struct NotificationsFixture : ::testing::Test {
    QTemporaryDir dir;
    QProcess daemon;
    QString address;
    QStringList connections;
    RecordingServer server;

    void SetUp() override
    {
        const QString executable = QStandardPaths::findExecutable("dbus-daemon");
        if (executable.isEmpty())
            GTEST_SKIP() << "dbus-daemon is not installed (Debian: dbus)";
        QFile config(dir.filePath("bus.conf"));
        ASSERT_TRUE(config.open(QIODevice::WriteOnly));
        config.write("<busconfig><type>session</type><listen>unix:dir=" + dir.path().toUtf8() + "</listen>"
                     "<auth>EXTERNAL</auth><policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
                     "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n");
        config.close();
        daemon.start(executable, {"--config-file=" + config.fileName(), "--print-address", "--nofork"});
        if (!daemon.waitForStarted() || !daemon.waitForReadyRead(10000))
            GTEST_SKIP() << "dbus-daemon did not start: " << daemon.readAllStandardError().toStdString();
        address = QString::fromUtf8(daemon.readLine()).trimmed();
    }
    void TearDown() override
    {
        for (const QString &name : connections)
            QDBusConnection::disconnectFromBus(name);
        daemon.terminate();
        daemon.waitForFinished(5000);
    }
    QDBusConnection connect(const QString &name)
    {
        connections << name;
        return QDBusConnection::connectToBus(address, name);
    }
    void registerServer()
    {
        QDBusConnection connection = connect("server");
        ASSERT_TRUE(connection.registerObject("/org/freedesktop/Notifications", &server,
                                               QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals));
        ASSERT_TRUE(connection.registerService("org.freedesktop.Notifications"));
    }
    // The log lines written by `act` and the event loop until `condition` holds (or time runs out).
    static QStringList log(const std::function<void()> &act, const std::function<bool()> &condition, int timeoutMs)
    {
        testing::internal::CaptureStdout();
        act();
        testsupport::processEventsUntil(condition, timeoutMs);
        return QString::fromStdString(testing::internal::GetCapturedStdout()).split('\n', Qt::SkipEmptyParts);
    }
};

} // namespace

TEST_F(NotificationsFixture, IdenticalNotificationsAreBothSentWithTheAppsNameIconAndTheDefaultSound)
{
    registerServer();
    FreedesktopNotifications notifications(connect("client"));
    // The service answers: nothing is logged, also once the answer is back.
    EXPECT_EQ(log([&] { notifications.requestNotificationAuthorization(); }, [] { return false; }, 500), QStringList());
    EXPECT_EQ(server.capabilityRequests, 1);

    const QString first = notifications.post("取り出し成功", "「Data」を安全に取り出したよ！");
    const QString second = notifications.post("取り出し成功", "「Data」を安全に取り出したよ！");
    ASSERT_TRUE(testsupport::processEventsUntil([&] { return server.notifications.size() == 2; }));
    const QVariantList sent = server.notifications.first();
    EXPECT_EQ(sent.mid(0, 6), QVariantList({"Quorvel NTFS Mount", 0u, "quorvel-ntfs-mount", "取り出し成功",
                                            "「Data」を安全に取り出したよ！", QStringList()}));
    EXPECT_EQ(sent[6].toMap(), QVariantMap({{"desktop-entry", "com.quorvel.NTFSMount"}})); // no suppress-sound
    EXPECT_EQ(sent[7], -1);
    EXPECT_EQ(server.notifications[1], sent);
    const QRegularExpression uuid("^[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$");
    EXPECT_TRUE(uuid.match(first).hasMatch() && uuid.match(second).hasMatch()) << first.toStdString();
    EXPECT_NE(first, second);

    // A refusal is logged with its request.
    server.refuse = true;
    QString third;
    const QStringList lines = log([&] { third = notifications.post("取り出し失敗", "Failed to unmount: busy"); },
                                  [] { return false; }, 1500);
    EXPECT_EQ(lines, QStringList({"Notification error: notifications are switched off (request " + third + ")"}));
}

// A volume's name goes into the body: servers that read markup get it escaped, so "<b>" and
// "A & B" show as they are; one that reads none gets it verbatim.
TEST_F(NotificationsFixture, BodiesAreEscapedForServersThatReadMarkup)
{
    registerServer();
    const QString body = "「<b>」と「A & B」を書き込み可能にしたよ";
    const QString escaped = "「&lt;b&gt;」と「A &amp; B」を書き込み可能にしたよ";
    struct Case {
        QStringList capabilities;
        bool ask;
        QString expected;
    };
    for (const Case &c : {Case{{"body", "body-markup"}, true, escaped}, Case{{}, false, escaped},
                          Case{{"body"}, true, body}}) {
        SCOPED_TRACE(c.capabilities.join(",").toStdString());
        server.capabilities = c.capabilities;
        server.notifications.clear();
        FreedesktopNotifications notifications(connect("client-" + QString::number(connections.size())));
        if (c.ask) {
            notifications.requestNotificationAuthorization();
            ASSERT_TRUE(testsupport::processEventsUntil([&] { return notifications.capabilities().has_value(); }));
        }
        notifications.post("マウント成功", body);
        ASSERT_TRUE(testsupport::processEventsUntil([&] { return server.notifications.size() == 1; }));
        EXPECT_EQ(server.notifications[0][3].toString(), "マウント成功");
        EXPECT_EQ(server.notifications[0][4].toString(), c.expected);
    }
}

// The action goes out as the banner's button where the service shows them, and runs once when
// the service says it was chosen; a banner closed unchosen forgets it.
TEST_F(NotificationsFixture, AnActionRunsOnceWhenChosenAndNotAtAllWhereTheServiceShowsNone)
{
    registerServer();
    for (const QStringList &capabilities : {QStringList{"body", "actions"}, QStringList{"body"}}) {
        SCOPED_TRACE(capabilities.join(",").toStdString());
        server.capabilities = capabilities;
        server.notifications.clear();
        FreedesktopNotifications notifications(connect("client-" + QString::number(connections.size())));
        notifications.requestNotificationAuthorization();
        ASSERT_TRUE(testsupport::processEventsUntil([&] { return notifications.capabilities().has_value(); }));
        QStringList ran;
        for (const QString &label : QStringList{"読み取り専用でマウント", "もう一度試す"})
            notifications.sendNotification("t", "b", NotificationService::Action{label, [&ran, label] { ran << label; }});
        ASSERT_TRUE(testsupport::processEventsUntil([&] { return server.notifications.size() == 2; }));
        const bool shown = capabilities.contains("actions");
        EXPECT_EQ(server.notifications[0][5].toStringList(),
                  shown ? QStringList({"action", "読み取り専用でマウント"}) : QStringList());
        Q_EMIT server.ActionInvoked(1, "default"); // the banner itself, clicked
        Q_EMIT server.NotificationClosed(2, 2);
        for (const uint id : {1u, 1u, 2u, 3u}) // chosen twice, after closing, of another client
            Q_EMIT server.ActionInvoked(id, "action");
        testsupport::processEventsUntil([] { return false; }, 300);
        EXPECT_EQ(ran, shown ? QStringList{"読み取り専用でマウント"} : QStringList());
    }
}

TEST_F(NotificationsFixture, WithoutAServiceOrABusBothCallsAreLogged)
{
    FreedesktopNotifications onEmptyBus(connect("client"));
    FreedesktopNotifications nowhere(QDBusConnection::connectToBus("unix:path=/nonexistent/bus", "nowhere"));
    connections << "nowhere";
    for (FreedesktopNotifications *notifications : {&onEmptyBus, &nowhere}) {
        QStringList lines = log(
            [&] {
                notifications->requestNotificationAuthorization();
                notifications->sendNotification("マウント成功", "x");
            },
            [] { return false; }, 1500);
        ASSERT_EQ(lines.size(), 2);
        std::sort(lines.begin(), lines.end());
        const QString reason = notifications == &onEmptyBus ? "The name org.freedesktop.Notifications was not provided" : "";
        EXPECT_TRUE(lines[0].startsWith("Notification auth error: " + reason)) << lines[0].toStdString();
        EXPECT_TRUE(lines[1].startsWith("Notification error: " + reason)) << lines[1].toStdString();
        EXPECT_GT(lines[0].size(), QString("Notification auth error: ").size());
    }
}

#include "FreedesktopNotificationsTest.moc"
