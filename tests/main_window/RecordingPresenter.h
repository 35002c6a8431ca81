#pragma once

#include "ui/main_window/AlertPresenter.h"

#include <QList>

#include <optional>

// Alerts as data: what was presented, and a way to press one of its buttons.
class RecordingPresenter : public AlertPresenter {
public:
    QList<Alert> presented;
    std::optional<Alert> open;

    void present(QWidget *, const Alert &alert) override
    {
        presented.append(alert);
        open = alert;
    }
    // Closes the open alert with the button labelled `text`, then runs its action.
    bool choose(const QString &text)
    {
        if (!open)
            return false;
        const Alert alert = *open;
        for (const Alert::Button &button : alert.buttons) {
            if (button.text != text)
                continue;
            open.reset();
            if (button.action)
                button.action();
            return true;
        }
        return false;
    }
};
