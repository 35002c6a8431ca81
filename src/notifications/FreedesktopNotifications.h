#pragma once

#include "notifications/Notifications.h"

#include <QDBusConnection>
#include <QHash>
#include <QObject>
#include <QStringList>

#include <functional>

#include <memory>
#include <optional>

// Notifications through org.freedesktop.Notifications on a D-Bus connection (the session bus by
// default). The protocol has no permission step: "authorization" asks the service for its
// capabilities, so a missing or broken service shows up once at start. Bodies go out as markup
// text (a volume may be named "<b>" or "A & B") unless the service said it reads no markup; an
// action goes out as the banner's one button unless the service said it shows none, and runs
// when the service says it was chosen.
class FreedesktopNotifications : public QObject, public NotificationService {
    Q_OBJECT

public:
    explicit FreedesktopNotifications(QDBusConnection connection = QDBusConnection::sessionBus(),
                                      QObject *parent = nullptr);
    ~FreedesktopNotifications() override;

    void requestNotificationAuthorization() override;
    void sendNotification(const QString &title, const QString &body,
                          std::optional<Action> action = std::nullopt) override;

    // What the service said it can do ("body", "body-markup", "actions", …), once it has answered
    // the authorization request.
    std::optional<QStringList> capabilities() const { return *m_capabilities; }

private Q_SLOTS:
    void onActionInvoked(uint notification, const QString &key);
    void onNotificationClosed(uint notification, uint reason);

private:
    QDBusConnection m_connection;
    // Shared with the request still waiting for the answer.
    std::shared_ptr<std::optional<QStringList>> m_capabilities = std::make_shared<std::optional<QStringList>>();
    // The actions of the banners still shown, by the service's number for them.
    QHash<uint, std::function<void()>> m_actions;
};
