#pragma once

#include "ui/main_window/AlertPresenter.h"
#include "ui/toolkit/Surface.h"

#include <QPointer>

#include <memory>

class DependencyChecker;
class ElidedLabel;
class QStackedWidget;
class ToolkitButton;

// The bar at the bottom of the main window: one status line on the left (a running uninstall,
// or the security note), the uninstall command with its confirmation alert and the version
// label on the right.
class FooterView : public Surface {
    Q_OBJECT
public:
    explicit FooterView(DependencyChecker *checker, QWidget *parent = nullptr);

    void setAlertPresenter(std::shared_ptr<AlertPresenter> presenter);

    ToolkitButton *uninstallButton() const { return m_uninstall; }

private:
    void refresh();
    void confirmUninstall();

    QPointer<DependencyChecker> m_checker;
    std::shared_ptr<AlertPresenter> m_presenter;

    QStackedWidget *m_status;
    QWidget *m_progressPart;
    QWidget *m_securityPart;
    ElidedLabel *m_progressText;
    ToolkitButton *m_uninstall;
};
