#pragma once

#include "ui/main_window/AlertPresenter.h"
#include "ui/toolkit/Surface.h"

#include <QPointer>

#include <memory>
#include <optional>

class ActivitySpinner;
class DependencyChecker;
class ElidedLabel;
class QStackedWidget;
class TextLabel;
class ToolkitButton;

// The bar at the bottom of the main window: one status line on the left (the last disk error,
// a running uninstall, or the security note), the uninstall command with its confirmation
// alert and the version label on the right.
class FooterView : public Surface {
    Q_OBJECT
public:
    enum class StatusPart { Error, Uninstalling, SecurityNote };

    explicit FooterView(DependencyChecker *checker, QWidget *parent = nullptr);

    void setLastError(const std::optional<QString> &lastError);
    void setAlertPresenter(std::shared_ptr<AlertPresenter> presenter);

    StatusPart statusPart() const;
    // The confirmation alert is open.
    bool showUninstallAlert() const { return m_showUninstallAlert; }

    ElidedLabel *errorLabel() const { return m_errorText; }
    ElidedLabel *progressLabel() const { return m_progressText; }
    ActivitySpinner *progressSpinner() const { return m_spinner; }
    ElidedLabel *securityLabel() const { return m_securityText; }
    ToolkitButton *uninstallButton() const { return m_uninstall; }
    TextLabel *versionLabel() const { return m_version; }

private:
    void refresh();
    void confirmUninstall();

    QPointer<DependencyChecker> m_checker;
    std::optional<QString> m_lastError;
    bool m_showUninstallAlert = false;
    std::shared_ptr<AlertPresenter> m_presenter;

    QStackedWidget *m_status;
    QWidget *m_errorPart;
    QWidget *m_progressPart;
    QWidget *m_securityPart;
    ElidedLabel *m_errorText;
    ActivitySpinner *m_spinner;
    ElidedLabel *m_progressText;
    ElidedLabel *m_securityText;
    ToolkitButton *m_uninstall;
    TextLabel *m_version;
};
