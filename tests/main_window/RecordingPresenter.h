#pragma once

#include "ui/main_window/AlertPresenter.h"

#include <QList>

#include <optional>

// Alerts as data: what was presented, and a way to press one of its buttons.
struct RecordingPresenter : AlertPresenter {
    QList<Alert> presented;
    std::optional<Alert> open;

    void present(QWidget *, const Alert &alert) override { presented.append(alert), open = alert; }
    // Closes the open alert with the button labelled `text`, then runs its action.
    bool choose(const QString &text)
    {
        for (const Alert::Button &button : open ? open->buttons : QList<Alert::Button>()) {
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
