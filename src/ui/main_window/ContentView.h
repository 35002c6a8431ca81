#pragma once

#include "disks/DiskManager.h"
#include "disks/NTFSDisk.h"
#include "shell/ModelEnvironment.h"
#include "ui/main_window/AlertPresenter.h"

#include <QList>
#include <QPointer>
#include <QSet>
#include <QWidget>

#include <memory>
#include <optional>

class DependencyChecker;
class DependencyWarningView;
class DiskRowView;
class EmptyDisksView;
class FooterView;
class HeaderView;
struct Outcome;
class QScrollArea;
class Surface;
class QVBoxLayout;

// The main window's root view. It owns the window's own disk and dependency models (created
// with it, gone with it), stacks header, warning panel, disk list or placeholder and footer,
// turns the rows' buttons into mounts and unmounts, and reports each outcome in an alert.
class ContentView : public QWidget {
    Q_OBJECT
public:
    // Models built on the host's profile, shell and file system.
    explicit ContentView(QWidget *parent = nullptr);
    explicit ContentView(const ModelEnvironment &environment, QWidget *parent = nullptr);
    ~ContentView() override;

    DiskManager *diskManager() const { return m_diskManager; }
    DependencyChecker *dependencyChecker() const { return m_dependencyChecker; }

    // Where the outcome alerts and the footer's confirmation go (a message box by default).
    void setAlertPresenter(std::shared_ptr<AlertPresenter> presenter);

    // Remounts `disk` read-write; needs a known ntfs-3g path. Returns at once. Each disk has one
    // command at a time: a second one for a disk whose command still runs is ignored.
    void mountDisk(const NTFSDisk &disk);
    // Mounts `disk` read-only, as a failed read-write mount may offer; needs a known ntfs-3g path.
    // Returns at once, and like the others runs one command per disk at a time.
    void mountDiskReadOnly(const NTFSDisk &disk);
    // Unmounts `disk`. Returns at once.
    void unmountDisk(const NTFSDisk &disk);
    // Says in an alert that `disk` went without being unmounted.
    void showRemoval(const NTFSDisk &disk);

    using Command = DiskManager::Operation;
    // Says how `command` on `disk` ended: its outcome's alert, with the remedy the error offers
    // as the second button. Each command calls it as it ends; the gallery calls it for errors no
    // scripted machine makes.
    void report(const NTFSDisk &disk, Command command, const std::optional<DiskError> &error);
    // Rescans (from the event loop) and re-tests the prerequisites (now).
    void fullRefresh();
    // Rescans only.
    void diskRefresh();

    bool showAlert() const { return m_showAlert; }
    QString alertTitle() const { return m_alertTitle; }
    QString alertMessage() const { return m_alertMessage; }
    // A command runs for some disk, or for the disk with this device node.
    bool isOperating() const { return !m_operatingDiskNodes.isEmpty(); }
    bool isOperating(const QString &deviceNode) const { return m_operatingDiskNodes.contains(deviceNode); }

    HeaderView *headerView() const { return m_header; }
    // Null while every prerequisite is installed.
    DependencyWarningView *warningView() const;
    EmptyDisksView *emptyView() const { return m_empty; }
    QScrollArea *diskList() const { return m_list; }
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
    void run(const NTFSDisk &disk, Command command);
    // Marks the disk's command as running or ended; its card spins while it runs.
    void setOperating(const QString &deviceNode, bool operating);
    void showOutcome(const Outcome &outcome, std::optional<Alert::Button> remedy = std::nullopt);

    DiskManager *m_diskManager;
    DependencyChecker *m_dependencyChecker;
    std::shared_ptr<AlertPresenter> m_presenter;

    bool m_showAlert = false;
    QString m_alertTitle;
    QString m_alertMessage;
    // One marker per disk, so that one command's end leaves the others' cards spinning.
    QSet<QString> m_operatingDiskNodes;

    QVBoxLayout *m_root;
    HeaderView *m_header;
    QPointer<DependencyWarningView> m_warning;
    Surface *m_contentArea;
    QWidget *m_emptyPage;
    EmptyDisksView *m_empty;
    QScrollArea *m_list;
    QVBoxLayout *m_rowLayout;
    QList<DiskRowView *> m_rows;
    FooterView *m_footer;
};
