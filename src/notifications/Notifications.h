#pragma once

#include <QString>

#include <functional>
#include <memory>
#include <optional>

// The desktop's user-notification service: one permission request at start, then banners with
// a title, a body and the default sound. Both calls return at once; a failure is only logged
// ("Notification auth error: …", "Notification error: …").
class NotificationService {
public:
    // A button on the banner. Services that show none leave it out, so the body has to say what
    // to do without it.
    struct Action {
        QString label;
        // Runs on the main thread when the user chooses the button, at most once.
        std::function<void()> run;
    };

    virtual ~NotificationService() = default;

    virtual void requestNotificationAuthorization() = 0;
    virtual void sendNotification(const QString &title, const QString &body,
                                  std::optional<Action> action = std::nullopt) = 0;
};

// The service of the platform we run on: org.freedesktop.Notifications on the session bus, or
// the UserNotifications framework on macOS.
std::shared_ptr<NotificationService> systemNotificationService();
