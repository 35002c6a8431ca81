#pragma once

#include "ui/main_window/StatusIndicator.h"
#include "ui/toolkit/ActivitySpinner.h"
#include "ui/toolkit/Surface.h"
#include "ui/toolkit/TextLabel.h"
#include "ui/toolkit/ToolkitButton.h"

#include <QPointer>

class DependencyChecker;
class QPropertyAnimation;

// The orange panel shown while prerequisites are missing: which tools are there, how to set
// them up, the automatic setup button, and the setup's progress and error. It follows the
// checker it is given (not owned) and redraws on every change of it.
class DependencyWarningView : public Surface {
    Q_OBJECT
public:
    explicit DependencyWarningView(DependencyChecker *checker, QWidget *parent = nullptr);

    // Opens or closes the details, as the header button does.
    void setExpanded(bool expanded, bool animated = true);

    // Starts the setup sequence on the event loop and returns at once.
    void startSetup();

    // How long opening and closing the details takes; 0 switches at once.
    static void setAnimationDuration(int milliseconds);

    ToolkitButton *toggleButton() const { return m_toggle; }
    ToolkitButton *setupButton() const { return m_setup; }

private:
    void refresh();
    void showDetails(bool shown, bool animated);
    int detailsHeight() const;

    QPointer<DependencyChecker> m_checker;
    // The user opened the details with the header button.
    bool m_isExpanded = false;
    // The details section is open: expanded, or a setup is running.
    bool m_isShowingDetails = false;

    ToolkitButton *m_toggle;
    QWidget *m_details;
    QList<StatusIndicator *> m_indicators;
    Surface *m_progressBox;
    TextLabel *m_progressLabel;
    QWidget *m_idle;
    TextLabel *m_instructions;
    ToolkitButton *m_setup;
    TextLabel *m_error;
    QPropertyAnimation *m_animation;
};
