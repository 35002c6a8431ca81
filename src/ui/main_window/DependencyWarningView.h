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

    // The user opened the details with the header button.
    bool isExpanded() const { return m_isExpanded; }
    void setExpanded(bool expanded, bool animated = true);
    // The details section is open: expanded, or a setup is running.
    bool isShowingDetails() const { return m_isShowingDetails; }

    // Starts the setup sequence on the event loop and returns at once.
    void startSetup();

    // How long opening and closing the details takes; 0 switches at once.
    static void setAnimationDuration(int milliseconds);

    ToolkitButton *toggleButton() const { return m_toggle; }
    QWidget *detailsSection() const { return m_details; }
    QList<StatusIndicator *> statusIndicators() const { return m_indicators; }
    Surface *progressBox() const { return m_progressBox; }
    ActivitySpinner *progressSpinner() const { return m_progressSpinner; }
    TextLabel *progressLabel() const { return m_progressLabel; }
    TextLabel *instructionsLabel() const { return m_instructions; }
    ToolkitButton *setupButton() const { return m_setup; }
    TextLabel *errorLabel() const { return m_error; }

private:
    void refresh();
    void showDetails(bool shown, bool animated);
    int detailsHeight() const;

    QPointer<DependencyChecker> m_checker;
    bool m_isExpanded = false;
    bool m_isShowingDetails = false;

    ToolkitButton *m_toggle;
    QWidget *m_details;
    QList<StatusIndicator *> m_indicators;
    Surface *m_progressBox;
    ActivitySpinner *m_progressSpinner;
    TextLabel *m_progressLabel;
    QWidget *m_idle;
    TextLabel *m_instructions;
    ToolkitButton *m_setup;
    TextLabel *m_error;
    QPropertyAnimation *m_animation;
};
