#include "notifications/FreedesktopNotifications.h"

#include "AppInfo.h"
#include "shell/Log.h"

#include <QCoro/QCoroDBusPendingCall>
#include <QCoro/QCoroTask>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QUuid>
#include <QVariantMap>

#include <functional>

namespace {

const char *const kService = "org.freedesktop.Notifications";
const char *const kPath = "/org/freedesktop/Notifications";
const char *const kInterface = "org.freedesktop.Notifications";

QDBusMessage methodCall(const QString &method)
{
    return QDBusMessage::createMethodCall(QString::fromLatin1(kService), QString::fromLatin1(kPath),
                                          QString::fromLatin1(kInterface), method);
}

QString describe(const QDBusError &error)
{
    if (!error.message().isEmpty())
        return error.message();
    if (!error.name().isEmpty())
        return error.name();
    return QStringLiteral("no connection to the D-Bus session bus");
}

// The log line for a refused request; the identifier tells two notifications apart.
QString requestErrorLine(const QString &errorText, const QString &identifier)
{
    return QStringLiteral("Notification error: ") + errorText + QStringLiteral(" (request ") + identifier
        + QStringLiteral(")");
}

QString authErrorLine(const QString &errorText)
{
    return QStringLiteral("Notification auth error: ") + errorText;
}

// Completion handler of both calls: nothing on success, one log line on failure.
QCoro::Task<> logFailure(QDBusPendingCall call, std::function<QString(const QString &)> line)
{
    const QDBusMessage reply = co_await call;
    if (reply.type() == QDBusMessage::ErrorMessage)
        writeLogLine(line(describe(QDBusError(reply))));
}

// Keeps the service's capabilities once it answers; a failure is one log line.
QCoro::Task<> readCapabilities(QDBusPendingCall call, std::weak_ptr<std::optional<QStringList>> into)
{
    const QDBusMessage reply = co_await call;
    if (reply.type() == QDBusMessage::ErrorMessage) {
        writeLogLine(authErrorLine(describe(QDBusError(reply))));
        co_return;
    }
    if (const auto capabilities = into.lock())
        *capabilities = reply.arguments().value(0).toStringList();
}

} // namespace

FreedesktopNotifications::FreedesktopNotifications(QDBusConnection connection)
    : m_connection(std::move(connection))
{
}

QString FreedesktopNotifications::newRequestIdentifier()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

void FreedesktopNotifications::requestNotificationAuthorization()
{
    if (!m_connection.isConnected()) {
        writeLogLine(authErrorLine(describe(m_connection.lastError())));
        return;
    }
    readCapabilities(m_connection.asyncCall(methodCall(QStringLiteral("GetCapabilities"))), m_capabilities);
}

void FreedesktopNotifications::sendNotification(const QString &title, const QString &body)
{
    post(title, body);
}

QString FreedesktopNotifications::post(const QString &title, const QString &body)
{
    const QString identifier = newRequestIdentifier();
    auto line = [identifier](const QString &errorText) { return requestErrorLine(errorText, identifier); };
    if (!m_connection.isConnected()) {
        writeLogLine(line(describe(m_connection.lastError())));
        return identifier;
    }
    // The body is read as markup by most services (the title never is). One that said it reads
    // none shows the text as it comes.
    const std::optional<QStringList> &capabilities = *m_capabilities;
    const bool readsMarkup = !capabilities || capabilities->contains(QStringLiteral("body-markup"));
    QDBusMessage notify = methodCall(QStringLiteral("Notify"));
    // The installed application icon, and the launcher the notification belongs to. No other
    // hints: the server plays its default sound and shows the banner as soon as it can.
    const QVariantMap hints{{QStringLiteral("desktop-entry"), AppInfo::applicationId()}};
    notify << AppInfo::title() << uint(0) << AppInfo::iconName() << title << (readsMarkup ? body.toHtmlEscaped() : body)
           << QStringList() << hints << int(-1);
    logFailure(m_connection.asyncCall(notify), line);
    return identifier;
}

#ifndef Q_OS_MACOS
std::shared_ptr<NotificationService> systemNotificationService()
{
    return std::make_shared<FreedesktopNotifications>();
}
#endif
