#pragma once

#include "disks/DiskManager.h"
#include "disks/NTFSDisk.h"
#include "shell/ModelEnvironment.h"
#include "ui/DiskActions.h"
#include "ui/main_window/AlertPresenter.h"

#include <QList>
#include <QPointer>
#include <QWidget>

#include <memory>
#include <optional>

class DependencyChecker;
class DependencyWarningView;
class DiskRowView;
class FooterView;
class HeaderView;
struct Outcome;
class QScrollArea;
class Surface;
class QVBoxLayout;

// The main window's root view. It owns the window's own disk and dependency models (created
// with it, gone with it) and their disk actions, stacks header, warning panel, disk list or
// placeholder and footer, hands the rows' buttons to the actions, and reports each outcome in an
// alert.
class ContentView : public QWidget {
    Q_OBJECT
public:
    // Models of its own, built on `environment`'s profile, shell, file system and disk service.
    explicit ContentView(const ModelEnvironment &environment, QWidget *parent = nullptr);
    ~ContentView() override;

    DiskManager *diskManager() const { return m_diskManager; }
    DependencyChecker *dependencyChecker() const { return m_dependencyChecker; }

    // Where the outcome alerts and the footer's confirmation go (a message box by default).
    void setAlertPresenter(std::shared_ptr<AlertPresenter> presenter);

    // Says in an alert that `disk` went without being unmounted.
    void showRemoval(const NTFSDisk &disk);

    using Command = DiskActions::Command;
    // Says how `command` on `disk` ended: its outcome's alert, with the remedy the error offers
    // as the second button. Each command's end comes here; the gallery calls it for errors no
    // scripted machine makes.
    void report(const NTFSDisk &disk, Command command, const std::optional<DiskError> &error);
    // Rescans and re-tests the prerequisites, both from the event loop.
    void fullRefresh();
    // Rescans only.
    void diskRefresh();

    bool showAlert() const { return m_showAlert; }

    HeaderView *headerView() const { return m_header; }
    // Null while every prerequisite is installed.
    DependencyWarningView *warningView() const;
    FooterView *footerView() const { return m_footer; }
    // The rows in list order.
    QList<DiskRowView *> rows() const { return m_rows; }
    DiskRowView *row(const QString &deviceNode) const;
    // The sections top to bottom (header, divider, panel when present, content area, divider, footer).
    QList<QWidget *> sections() const;

protected:
    void showEvent(QShowEvent *event) override;
    bool event(QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void updateMinimumSize();
    void updateSections();
    void updateWarningPanel();
    void updateRows();
    void report(const DiskActions::Ended &ended);
    void showOutcome(const Outcome &outcome, std::optional<Alert::Button> remedy = std::nullopt);

    DiskManager *m_diskManager;
    DependencyChecker *m_dependencyChecker;
    // The cards' commands; each card spins while its own runs.
    DiskActions *m_actions;
    std::shared_ptr<AlertPresenter> m_presenter;

    bool m_showAlert = false;

    QVBoxLayout *m_root;
    HeaderView *m_header;
    QPointer<DependencyWarningView> m_warning;
    Surface *m_contentArea;
    QWidget *m_emptyPage;
    QScrollArea *m_list;
    QVBoxLayout *m_rowLayout;
    QList<DiskRowView *> m_rows;
    FooterView *m_footer;
};
