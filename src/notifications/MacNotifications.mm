// Notifications through the UserNotifications framework (macOS only).
#include "notifications/Notifications.h"

#include "shell/Log.h"

#import <Foundation/Foundation.h>
#import <UserNotifications/UserNotifications.h>

namespace {

QString describe(NSError *error)
{
    return QString::fromNSString(error.localizedDescription);
}

class MacNotifications : public NotificationService {
public:
    void requestNotificationAuthorization() override
    {
        UNUserNotificationCenter *center = [UNUserNotificationCenter currentNotificationCenter];
        [center requestAuthorizationWithOptions:(UNAuthorizationOptionAlert | UNAuthorizationOptionSound)
                              completionHandler:^(BOOL, NSError *error) {
                                  // Whether permission was granted is not looked at.
                                  if (error)
                                      writeLogLine(QStringLiteral("Notification auth error: ") + describe(error));
                              }];
    }

    // The banner has no button here: its body says what to do, and the user does it in the
    // menu or the window.
    void sendNotification(const QString &title, const QString &body, std::optional<Action> = std::nullopt) override
    {
        UNMutableNotificationContent *content = [[UNMutableNotificationContent alloc] init];
        content.title = title.toNSString();
        content.body = body.toNSString();
        content.sound = [UNNotificationSound defaultSound];
        // A new identifier every time, so no notification replaces an earlier one.
        NSString *identifier = [[NSUUID UUID] UUIDString];
        UNNotificationRequest *request = [UNNotificationRequest requestWithIdentifier:identifier
                                                                              content:content
                                                                              trigger:nil];
        [[UNUserNotificationCenter currentNotificationCenter]
            addNotificationRequest:request
             withCompletionHandler:^(NSError *error) {
                 if (error)
                     writeLogLine(QStringLiteral("Notification error: ") + describe(error));
             }];
    }
};

} // namespace

std::shared_ptr<NotificationService> systemNotificationService()
{
    return std::make_shared<MacNotifications>();
}
