#pragma once

#include "notifications/Notifications.h"

#include <QDBusConnection>

// Notifications through org.freedesktop.Notifications on a D-Bus connection (the session bus by
// default). The protocol has no permission step: "authorization" asks the service for its
// capabilities, so a missing or broken service shows up once at start.
class FreedesktopNotifications : public NotificationService {
public:
    explicit FreedesktopNotifications(QDBusConnection connection = QDBusConnection::sessionBus());

    void requestNotificationAuthorization() override;
    void sendNotification(const QString &title, const QString &body) override;

    // Posts one notification and returns its request identifier. The service assigns its own
    // number; ours names the request in the log when the service refuses it.
    QString post(const QString &title, const QString &body);

    // A new random UUID in canonical upper-case form.
    static QString newRequestIdentifier();

private:
    QDBusConnection m_connection;
};
