#pragma once

#include <QString>

#include <memory>

// The desktop's user-notification service: one permission request at start, then banners with
// a title, a body and the default sound. Both calls return at once; a failure is only logged
// ("Notification auth error: …", "Notification error: …").
class NotificationService {
public:
    virtual ~NotificationService() = default;

    virtual void requestNotificationAuthorization() = 0;
    virtual void sendNotification(const QString &title, const QString &body) = 0;
};

// The service of the platform we run on: org.freedesktop.Notifications on the session bus, or
// the UserNotifications framework on macOS.
std::shared_ptr<NotificationService> systemNotificationService();
