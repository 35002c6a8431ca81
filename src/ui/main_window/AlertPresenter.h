#pragma once

#include <QList>
#include <QString>

#include <functional>

class QWidget;

// A modal alert: a title, a message and its buttons. Choosing a button closes the alert and
// then runs that button's action.
struct Alert {
    struct Button {
        // Default answers Return; Cancel answers Escape (and Return where there is no Default);
        // Other is a further choice that answers neither.
        enum class Role { Default, Destructive, Cancel, Other };
        QString text;
        Role role = Role::Default;
        std::function<void()> action;
    };

    // Alerts with the same identifier over the same view are one alert: presenting it again
    // while it is open replaces its texts and buttons instead of stacking a second one.
    QString identifier;
    QString title;
    QString message;
    QList<Button> buttons;
};

// Shows alerts. The views hand every alert to one of these, so tests can read what would be
// shown and press its buttons without a modal loop.
class AlertPresenter {
public:
    virtual ~AlertPresenter() = default;

    // Shows `alert` over `owner`'s window and returns at once; it stays open (blocking input to
    // that window only) until the user chooses a button. Closing `owner` closes it without
    // running any action.
    virtual void present(QWidget *owner, const Alert &alert) = 0;
};

// The alert as a window-modal message box, opened without a nested event loop.
class MessageBoxPresenter final : public AlertPresenter {
public:
    void present(QWidget *owner, const Alert &alert) override;
};
