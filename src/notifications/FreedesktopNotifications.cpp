#include "notifications/FreedesktopNotifications.h"

#include "AppInfo.h"
#include "shell/Log.h"

#include <QCoro/QCoroDBusPendingCall>
#include <QCoro/QCoroTask>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QPointer>
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

// A new random UUID in canonical upper-case form.
QString newRequestIdentifier()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
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

// The banner's one button goes out under this key ("default" would be a click on the banner).
const char *const kActionKey = "action";

// Completion handler of Notify: the service's number for the banner to `numbered`, if given, on
// success; one log line on failure.
QCoro::Task<> awaitNotify(QDBusPendingCall call, std::function<QString(const QString &)> line,
                          std::function<void(uint)> numbered)
{
    const QDBusMessage reply = co_await call;
    if (reply.type() == QDBusMessage::ErrorMessage)
        writeLogLine(line(describe(QDBusError(reply))));
    else if (numbered)
        numbered(reply.arguments().value(0).toUInt());
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

FreedesktopNotifications::FreedesktopNotifications(QDBusConnection connection, QObject *parent)
    : QObject(parent)
    , m_connection(std::move(connection))
{
    // The service tells every client of every banner's fate; ours are told apart by number.
    const QString service = QString::fromLatin1(kService), path = QString::fromLatin1(kPath),
                  interface = QString::fromLatin1(kInterface);
    m_connection.connect(service, path, interface, QStringLiteral("ActionInvoked"), this,
                         SLOT(onActionInvoked(uint, QString)));
    m_connection.connect(service, path, interface, QStringLiteral("NotificationClosed"), this,
                         SLOT(onNotificationClosed(uint, uint)));
}

FreedesktopNotifications::~FreedesktopNotifications() = default;

void FreedesktopNotifications::requestNotificationAuthorization()
{
    if (!m_connection.isConnected()) {
        writeLogLine(authErrorLine(describe(m_connection.lastError())));
        return;
    }
    readCapabilities(m_connection.asyncCall(methodCall(QStringLiteral("GetCapabilities"))), m_capabilities);
}

void FreedesktopNotifications::sendNotification(const QString &title, const QString &body,
                                                std::optional<Action> action)
{
    // The service assigns its own number; ours names the request in the log when the service
    // refuses it.
    const QString identifier = newRequestIdentifier();
    auto line = [identifier](const QString &errorText) { return requestErrorLine(errorText, identifier); };
    if (!m_connection.isConnected()) {
        writeLogLine(line(describe(m_connection.lastError())));
        return;
    }
    // The body is read as markup by most services (the title never is). One that said it reads
    // none shows the text as it comes.
    const std::optional<QStringList> &capabilities = *m_capabilities;
    const bool readsMarkup = !capabilities || capabilities->contains(QStringLiteral("body-markup"));
    // Likewise most show actions; where one said it shows none, the body alone tells what to do.
    if (action && capabilities && !capabilities->contains(QStringLiteral("actions")))
        action.reset();
    QStringList actions;
    std::function<void(uint)> numbered;
    if (action) {
        actions << QString::fromLatin1(kActionKey) << action->label;
        numbered = [self = QPointer(this), run = std::move(action->run)](uint notification) {
            if (self)
                self->m_actions.insert(notification, run);
        };
    }
    QDBusMessage notify = methodCall(QStringLiteral("Notify"));
    // The installed application icon, and the launcher the notification belongs to. No other
    // hints: the server plays its default sound and shows the banner as soon as it can.
    const QVariantMap hints{{QStringLiteral("desktop-entry"), AppInfo::applicationId()}};
    notify << AppInfo::title() << uint(0) << AppInfo::iconName() << title << (readsMarkup ? body.toHtmlEscaped() : body)
           << actions << hints << int(-1);
    awaitNotify(m_connection.asyncCall(notify), line, std::move(numbered));
}

void FreedesktopNotifications::onActionInvoked(uint notification, const QString &key)
{
    if (key != QLatin1String(kActionKey))
        return;
    const std::function<void()> run = m_actions.take(notification);
    if (run)
        run();
}

void FreedesktopNotifications::onNotificationClosed(uint notification, uint)
{
    m_actions.remove(notification);
}

#ifndef Q_OS_MACOS
std::shared_ptr<NotificationService> systemNotificationService()
{
    return std::make_shared<FreedesktopNotifications>();
}
#endif
