#include "ui/main_window/ContentView.h"

#include "dependencies/DependencyChecker.h"
#include "disks/DiskManager.h"
#include "ui/Outcomes.h"
#include "ui/main_window/DependencyWarningView.h"
#include "ui/main_window/DiskRowView.h"
#include "ui/main_window/EmptyDisksView.h"
#include "ui/main_window/FooterView.h"
#include "ui/main_window/HeaderView.h"
#include "ui/toolkit/Divider.h"
#include "ui/toolkit/Surface.h"

#include <QCoro/QCoroTask>
#include <QScrollArea>
#include <QShowEvent>
#include <QTimer>
#include <QVBoxLayout>

using Toolkit::NamedColor;

namespace {

// Row insets of the disk list.
const QMargins kRowInsets(16, 8, 16, 8);

// The content is never laid out smaller than this.
constexpr QSize kMinimumSize(550, 400);

} // namespace

ContentView::ContentView(const ModelEnvironment &environment, QWidget *parent)
    : QWidget(parent)
    , m_diskManager(new DiskManager(environment, this))
    , m_dependencyChecker(new DependencyChecker(environment.platform, environment.runner, environment.files, this))
    , m_actions(new DiskActions(m_diskManager, m_dependencyChecker, this))
    , m_presenter(std::make_shared<MessageBoxPresenter>())
    , m_root(new QVBoxLayout(this))
    , m_header(new HeaderView(this))
    , m_contentArea(new Surface(this))
    , m_emptyPage(new QWidget(m_contentArea))
    , m_list(new QScrollArea(m_contentArea))
    , m_footer(new FooterView(m_dependencyChecker, this))
{
    setMinimumSize(kMinimumSize);
    m_root->setContentsMargins(0, 0, 0, 0);
    m_root->setSpacing(0);
    // The area between the dividers: the window background with the list or the placeholder on it.
    m_contentArea->setFill(ColorRef{NamedColor::WindowBackground});

    m_header->setOnRefresh([this] { fullRefresh(); });
    m_footer->setAlertPresenter(m_presenter);

    // The placeholder, centred.
    auto *empty = new EmptyDisksView(m_emptyPage);
    empty->setOnRefresh([this] { diskRefresh(); });
    auto *emptyLayout = new QVBoxLayout(m_emptyPage);
    emptyLayout->setContentsMargins(0, 0, 0, 0);
    emptyLayout->addWidget(empty, 0, Qt::AlignCenter);

    // The plain list: rows stacked at the top, no frame, transparent over the background.
    auto *rowsWidget = new QWidget;
    rowsWidget->setAutoFillBackground(false);
    m_rowLayout = new QVBoxLayout(rowsWidget);
    m_rowLayout->setContentsMargins(0, 0, 0, 0);
    m_rowLayout->setSpacing(0);
    m_rowLayout->addStretch(1);
    m_list->setWidget(rowsWidget);
    m_list->setWidgetResizable(true);
    m_list->setFrameShape(QFrame::NoFrame);
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_list->viewport()->setAutoFillBackground(false);

    // Either the placeholder or the list; only the shown one counts for the minimum size.
    auto *contentLayout = new QVBoxLayout(m_contentArea);
    contentLayout->setContentsMargins(0, 0, 0, 0);
    contentLayout->addWidget(m_emptyPage);
    contentLayout->addWidget(m_list);

    m_root->addWidget(m_header);
    m_root->addWidget(new Divider(ColorRef{NamedColor::White, 0.1}, this));
    m_root->addWidget(m_contentArea, 1);
    m_root->addWidget(new Divider(ColorRef{NamedColor::White, 0.1}, this));
    m_root->addWidget(m_footer);

    m_actions->setOnEnded([this](const DiskActions::Ended &ended) { report(ended); });
    m_actions->setOnNoNtfs3g([this] { showOutcome(Outcomes::windowNoNtfs3g()); });
    connect(m_actions, &DiskActions::runningChanged, this, &ContentView::updateRows);
    connect(m_diskManager, &DiskManager::disksChanged, this, &ContentView::updateSections);
    connect(m_diskManager, &DiskManager::isScanningChanged, this, &ContentView::updateSections);
    connect(m_dependencyChecker, &DependencyChecker::statusChanged, this, &ContentView::updateSections);
    updateSections();
}

ContentView::~ContentView() = default;

void ContentView::setAlertPresenter(std::shared_ptr<AlertPresenter> presenter)
{
    m_presenter = presenter;
    m_footer->setAlertPresenter(std::move(presenter));
}

DependencyWarningView *ContentView::warningView() const
{
    return m_warning;
}

DiskRowView *ContentView::row(const QString &deviceNode) const
{
    for (DiskRowView *row : m_rows)
        if (row->disk().deviceNode == deviceNode)
            return row;
    return nullptr;
}

QList<QWidget *> ContentView::sections() const
{
    QList<QWidget *> widgets;
    for (int i = 0; i < m_root->count(); ++i)
        if (QWidget *widget = m_root->itemAt(i)->widget())
            widgets.append(widget);
    return widgets;
}

void ContentView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    // Each time the window is opened or shown again; not when the desktop merely uncovers it.
    if (!event->spontaneous())
        fullRefresh();
}

bool ContentView::event(QEvent *event)
{
    const bool handled = QWidget::event(event);
    if (event->type() == QEvent::LayoutRequest)
        updateMinimumSize();
    return handled;
}

void ContentView::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    updateMinimumSize();
}

// At least the fixed minimum, and never less than the sections need at the current width (the
// wrapped texts of the warning panel grow taller as the window gets narrower), so the window
// grows instead of squeezing a section.
void ContentView::updateMinimumSize()
{
    QSize minimum = m_root->totalMinimumSize().expandedTo(kMinimumSize);
    if (m_root->hasHeightForWidth())
        minimum.setHeight(std::max(minimum.height(), m_root->totalMinimumHeightForWidth(std::max(width(), minimum.width()))));
    if (minimum != minimumSize())
        setMinimumSize(minimum);
}

void ContentView::fullRefresh()
{
    diskRefresh();
    m_dependencyChecker->checkDependencies();
}

void ContentView::diskRefresh()
{
    QTimer::singleShot(0, m_diskManager, [manager = m_diskManager] { manager->scanDisks(); });
}

void ContentView::showRemoval(const NTFSDisk &disk)
{
    showOutcome(Outcomes::removedWhileMounted(disk));
}

void ContentView::report(const NTFSDisk &disk, Command command, const std::optional<DiskError> &error)
{
    report(m_actions->ended(disk, command, error));
}

void ContentView::report(const DiskActions::Ended &ended)
{
    const Outcome outcome = ended.command == Command::Unmount ? Outcomes::windowUnmount(ended.disk, ended.error)
        : ended.command == Command::MountReadOnly             ? Outcomes::windowMountReadOnly(ended.disk, ended.error)
                                                              : Outcomes::windowMount(ended.disk, ended.error);
    if (!ended.remedy) {
        showOutcome(outcome);
        return;
    }
    showOutcome(outcome, Alert::Button{Outcomes::remedyLabel(ended.error->remedy), Alert::Button::Role::Other,
                                       ended.remedy});
}

void ContentView::showOutcome(const Outcome &outcome, std::optional<Alert::Button> remedy)
{
    m_showAlert = true;
    QPointer<ContentView> self(this);
    Alert alert;
    alert.identifier = QStringLiteral("outcome");
    alert.title = outcome.title;
    alert.message = outcome.message;
    alert.buttons = {{QStringLiteral("OK"), Alert::Button::Role::Default, [self] {
                          if (self)
                              self->m_showAlert = false;
                      }}};
    if (remedy) {
        remedy->action = [self, apply = std::move(remedy->action)] {
            if (self)
                self->m_showAlert = false;
            apply();
        };
        alert.buttons.append(std::move(*remedy));
    }
    m_presenter->present(this, alert);
}

void ContentView::updateSections()
{
    m_header->setScanning(m_diskManager->isScanning());
    updateWarningPanel();
    const bool empty = m_diskManager->disks().isEmpty();
    m_emptyPage->setVisible(empty);
    m_list->setVisible(!empty);
    updateRows();
}

void ContentView::updateWarningPanel()
{
    // Not before the first check has answered: the panel would flash up on every window opened.
    const bool needed = m_dependencyChecker->isChecked() && !m_dependencyChecker->status().isAllInstalled();
    if (needed && !m_warning) {
        m_warning = new DependencyWarningView(m_dependencyChecker, this);
        m_root->insertWidget(2, m_warning); // below the first divider
    } else if (!needed && m_warning) {
        // Removed, not hidden: a panel shown again later starts collapsed.
        m_root->removeWidget(m_warning);
        m_warning->hide();
        m_warning->deleteLater();
        m_warning = nullptr;
    }
}

void ContentView::updateRows()
{
    const QList<NTFSDisk> disks = m_diskManager->disks();
    const bool depsInstalled = m_dependencyChecker->status().isAllInstalled();
    QList<DiskRowView *> previous = m_rows;
    QList<DiskRowView *> rows;

    for (int i = 0; i < disks.size(); ++i) {
        const NTFSDisk &disk = disks.at(i);
        // Rows are identified by the disk's id and kept across redraws.
        DiskRowView *row = nullptr;
        for (int j = 0; j < previous.size(); ++j) {
            if (previous.at(j)->disk().id() == disk.id()) {
                row = previous.takeAt(j);
                break;
            }
        }
        if (!row) {
            auto *cell = new QWidget;
            auto *cellLayout = new QVBoxLayout(cell);
            cellLayout->setContentsMargins(kRowInsets);
            row = new DiskRowView(cell);
            cellLayout->addWidget(row);
            row->setOnMount([this, row] { m_actions->run(row->disk(), Command::MountReadWrite); });
            row->setOnUnmount([this, row] { m_actions->run(row->disk(), Command::Unmount); });
        }
        QWidget *cell = row->parentWidget();
        if (m_rowLayout->indexOf(cell) != i) {
            m_rowLayout->removeWidget(cell);
            m_rowLayout->insertWidget(i, cell);
        }
        cell->show();
        row->setDisk(disk);
        row->setOperating(m_actions->isRunning(disk.deviceNode));
        row->setAllDepsInstalled(depsInstalled);
        rows.append(row);
    }
    for (DiskRowView *gone : previous) {
        QWidget *cell = gone->parentWidget();
        m_rowLayout->removeWidget(cell);
        cell->hide();
        cell->deleteLater();
    }
    m_rows = rows;
    // However small the window, the list keeps room for one whole card.
    m_list->setMinimumHeight(rows.isEmpty() ? 0 : rows.first()->parentWidget()->sizeHint().height());
}
