#pragma once

#include "app/Notifications.h"

#include <QList>
#include <QString>

// Records what would have been shown.
class RecordingNotifications : public NotificationService {
public:
    struct Notice {
        QString title;
        QString body;
        friend bool operator==(const Notice &, const Notice &) = default;
    };

    int authorizationRequests = 0;
    QList<Notice> sent;
    std::function<void()> onAuthorization;

    void requestNotificationAuthorization() override
    {
        ++authorizationRequests;
        if (onAuthorization)
            onAuthorization();
    }
    void sendNotification(const QString &title, const QString &body) override { sent.append({title, body}); }
};

#include <ostream>
inline void PrintTo(const RecordingNotifications::Notice &notice, std::ostream *os)
{
    *os << "{" << notice.title.toStdString() << " / " << notice.body.toStdString() << "}";
}
