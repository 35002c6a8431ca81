// Notifications over a private D-Bus daemon with a recording org.freedesktop.Notifications service.
#include "notifications/FreedesktopNotifications.h"

#include "support/TestSupport.h"

#include <QDBusConnection>
#include <QProcess>
#include <QStandardPaths>

#include <gtest/gtest.h>

namespace {

class RecordingServer : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    QList<QVariantList> notifications; // the arguments of each Notify
    QStringList capabilities;

public Q_SLOTS:
    uint Notify(const QString &appName, uint replacesId, const QString &appIcon, const QString &summary,
                const QString &body, const QStringList &actions, const QVariantMap &hints, int expireTimeout)
    {
        notifications.append({appName, replacesId, appIcon, summary, body, actions, hints, expireTimeout});
        return uint(notifications.size());
    }
    QStringList GetCapabilities() { return capabilities; }

Q_SIGNALS:
    void ActionInvoked(uint id, const QString &actionKey);
};

} // namespace

// A volume's name goes into the body: servers that read markup (or did not say) get it escaped,
// one that reads none gets it verbatim. The action is the banner's one button where the service
// shows them, and runs once when the service says it was chosen.
TEST(FreedesktopNotifications, TheWireFormatFollowsTheServicesCapabilities)
{
    const QString executable = QStandardPaths::findExecutable("dbus-daemon");
    if (executable.isEmpty())
        GTEST_SKIP() << "dbus-daemon is not installed (Debian: dbus)";
    // A bus of the test's own, without service files, so nothing starts behind the test's back.
    QProcess daemon;
    daemon.start(executable, {"--session", "--print-address", "--nofork"});
    ASSERT_TRUE(daemon.waitForReadyRead(10000)) << daemon.readAllStandardError().toStdString();
    const QString address = QString::fromUtf8(daemon.readLine()).trimmed();
    RecordingServer server;
    QDBusConnection bus = QDBusConnection::connectToBus(address, "server");
    ASSERT_TRUE(bus.registerObject("/org/freedesktop/Notifications", &server, QDBusConnection::ExportAllContents));
    ASSERT_TRUE(bus.registerService("org.freedesktop.Notifications"));

    const QString body = "「<b>」と「A & B」を書き込み可能にしたよ", label = "読み取り専用でマウント";
    const QString escaped = "「&lt;b&gt;」と「A &amp; B」を書き込み可能にしたよ";
    const struct {
        std::optional<QStringList> capabilities; // none: never asked
        QString body;
        bool actions;
    } cases[] = {{QStringList{"body", "body-markup", "actions"}, escaped, true},
                 {std::nullopt, escaped, true},
                 {QStringList{"body"}, body, false}};
    int client = 0;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.capabilities.value_or(QStringList{"?"}).join(",").toStdString());
        server.capabilities = c.capabilities.value_or(QStringList());
        server.notifications.clear();
        FreedesktopNotifications notifications(QDBusConnection::connectToBus(address, QString::number(++client)));
        if (c.capabilities) {
            notifications.requestNotificationAuthorization();
            ASSERT_TRUE(testsupport::processEventsUntil([&] { return notifications.capabilities().has_value(); }));
        }
        int ran = 0;
        notifications.sendNotification("マウント失敗", body, NotificationService::Action{label, [&ran] { ++ran; }});
        ASSERT_TRUE(testsupport::processEventsUntil([&] { return server.notifications.size() == 1; }));
        EXPECT_EQ(server.notifications[0],
                  QVariantList({"Quorvel NTFS Mount", 0u, "quorvel-ntfs-mount", "マウント失敗", c.body,
                                c.actions ? QStringList{"action", label} : QStringList(),
                                QVariantMap{{"desktop-entry", "com.quorvel.NTFSMount"}}, -1}));
        Q_EMIT server.ActionInvoked(1, "default"); // the banner itself, clicked
        testsupport::processEventsUntil([] { return false; }, 200);
        EXPECT_EQ(ran, 0);
        for (const uint id : {2u, 1u, 1u}) // another banner's, then ours twice
            Q_EMIT server.ActionInvoked(id, "action");
        testsupport::processEventsUntil([] { return false; }, 300);
        EXPECT_EQ(ran, c.actions ? 1 : 0);
        QDBusConnection::disconnectFromBus(QString::number(client));
    }
    QDBusConnection::disconnectFromBus("server");
    daemon.terminate();
    daemon.waitForFinished(5000);
}

#include "FreedesktopNotificationsTest.moc"
