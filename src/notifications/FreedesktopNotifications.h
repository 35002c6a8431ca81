#pragma once

#include "notifications/Notifications.h"

#include <QDBusConnection>
#include <QStringList>

#include <memory>
#include <optional>

// Notifications through org.freedesktop.Notifications on a D-Bus connection (the session bus by
// default). The protocol has no permission step: "authorization" asks the service for its
// capabilities, so a missing or broken service shows up once at start. Bodies go out as markup
// text (a volume may be named "<b>" or "A & B") unless the service said it reads no markup.
class FreedesktopNotifications : public NotificationService {
public:
    explicit FreedesktopNotifications(QDBusConnection connection = QDBusConnection::sessionBus());

    void requestNotificationAuthorization() override;
    void sendNotification(const QString &title, const QString &body) override;

    // Posts one notification and returns its request identifier. The service assigns its own
    // number; ours names the request in the log when the service refuses it.
    QString post(const QString &title, const QString &body);

    // What the service said it can do ("body", "body-markup", …), once it has answered the
    // authorization request.
    std::optional<QStringList> capabilities() const { return *m_capabilities; }

    // A new random UUID in canonical upper-case form.
    static QString newRequestIdentifier();

private:
    QDBusConnection m_connection;
    // Shared with the request still waiting for the answer.
    std::shared_ptr<std::optional<QStringList>> m_capabilities = std::make_shared<std::optional<QStringList>>();
};
