#include "ui/menu_bar/MenuBarView.h"

#include "AppInfo.h"
#include "dependencies/DependencyChecker.h"
#include "disks/DiskManager.h"
#include "ui/Outcomes.h"
#include "ui/toolkit/Symbols.h"

#include <QAction>
#include <QMenu>

namespace {

// Menu texts treat "&" as a mnemonic marker; names from the disks are shown as they are.
QString literalMenuText(QString text)
{
    return text.replace(QLatin1Char('&'), QStringLiteral("&&"));
}

} // namespace

MenuBarView::MenuBarView(DiskManager *diskManager, DependencyChecker *dependencyChecker, DiskActions *diskActions,
                         MenuBarActions actions, std::shared_ptr<NotificationService> notifications, QObject *parent)
    : QObject(parent)
    , m_diskManager(diskManager)
    , m_dependencyChecker(dependencyChecker)
    , m_diskActions(diskActions)
    , m_actions(std::move(actions))
    , m_notifications(std::move(notifications))
    , m_menu(std::make_unique<QMenu>())
{
    m_menu->setObjectName(QStringLiteral("menu-bar-menu"));
    for (auto changed : {&DiskManager::disksChanged, &DiskManager::isScanningChanged})
        connect(diskManager, changed, this, &MenuBarView::rebuild);
    // Only a change the entries show rebuilds them, so that a check while the menu is open leaves it be.
    connect(dependencyChecker, &DependencyChecker::statusChanged, this, [this](const DependencyStatus &status) {
        if (status.isAllInstalled() != m_drawnCanMount)
            rebuild();
    });
    connect(diskActions, &DiskActions::runningChanged, this, &MenuBarView::rebuild);
    diskActions->setOnEnded([this](const DiskActions::Ended &ended) { notify(ended); });
    // The window's setup or uninstall may have changed the prerequisites since; a change found
    // rebuilds the open menu.
    connect(m_menu.get(), &QMenu::aboutToShow, this, [this] {
        if (m_dependencyChecker)
            m_dependencyChecker->checkDependencies();
    });
    rebuild();
}

MenuBarView::~MenuBarView()
{
    for (const QPointer<QObject> &entry : std::as_const(m_entries))
        delete entry.data();
}

QAction *MenuBarView::addAction(QMenu *menu, const QString &text, std::function<void()> onTriggered)
{
    auto *action = new QAction(text, this);
    m_entries.append(action);
    if (onTriggered)
        connect(action, &QAction::triggered, this, std::move(onTriggered));
    menu->addAction(action);
    return action;
}

void MenuBarView::rebuild()
{
    // A rebuild may come from inside an entry's own trigger (a rescan starts at once), so the old
    // entries are deleted later, not now.
    m_menu->clear();
    for (const QPointer<QObject> &entry : std::exchange(m_entries, {}))
        if (entry)
            entry->deleteLater();
    if (!m_diskManager || !m_dependencyChecker)
        return;

    m_drawnCanMount = m_dependencyChecker->status().isAllInstalled();
    const QList<NTFSDisk> &disks = m_diskManager->disks();
    if (disks.isEmpty()) {
        addAction(m_menu.get(), QStringLiteral("検出されたNTFSドライブなし"), {})->setEnabled(false);
    } else {
        for (const NTFSDisk &disk : disks)
            addDiskMenu(disk, m_drawnCanMount);
    }
    m_menu->addSeparator();
    addAction(m_menu.get(), QStringLiteral("ディスクを再スキャン"), [this] { rescan(); });
    addAction(m_menu.get(), QStringLiteral("メイン画面を開く"), [this] { openMainWindow(true); });
    m_menu->addSeparator();
    addAction(m_menu.get(), QStringLiteral("アプリを終了"), [this] {
        if (m_actions.quitApplication)
            m_actions.quitApplication();
    });
}

void MenuBarView::addDiskMenu(const NTFSDisk &disk, bool canMount)
{
    auto *submenu = new QMenu(literalMenuText(disk.volumeName), m_menu.get());
    m_entries.append(submenu);
    submenu->setObjectName(disk.id());
    submenu->menuAction()->setData(disk.id());
    m_menu->addMenu(submenu);

    addAction(submenu, QStringLiteral("詳細情報: ") + literalMenuText(disk.deviceNode), [this] { openMainWindow(false); });
    submenu->addSeparator();
    const bool running = m_diskActions && m_diskActions->isRunning(disk.deviceNode);
    const auto run = [this, disk](Command command) {
        return [this, disk, command] {
            if (m_diskActions)
                m_diskActions->run(disk, command);
        };
    };
    if (disk.isWritable) {
        QAction *eject = addAction(submenu, QStringLiteral("安全に取り出す (Unmount)"), run(Command::Unmount));
        eject->setIcon(Toolkit::symbol(QStringLiteral("eject.fill")));
        eject->setEnabled(!running);
    } else {
        QAction *mount = addAction(submenu, Outcomes::mountReadWriteLabel(), run(Command::MountReadWrite));
        mount->setIcon(Toolkit::symbol(QStringLiteral("pencil.and.outline")));
        mount->setEnabled(canMount && !running);
    }
}

void MenuBarView::rescan()
{
    if (m_diskManager)
        m_diskManager->scanDisks();
}

void MenuBarView::openMainWindow(bool activate)
{
    if (m_actions.openWindow)
        m_actions.openWindow(AppInfo::mainWindowIdentifier());
    if (activate && m_actions.activateApplication)
        m_actions.activateApplication();
}

void MenuBarView::notify(const DiskActions::Ended &ended)
{
    const Outcome outcome = ended.command == Command::Unmount ? Outcomes::menuEject(ended.disk, ended.error)
        : ended.command == Command::MountReadOnly             ? Outcomes::menuMountReadOnly(ended.disk, ended.error)
                                                              : Outcomes::menuMount(ended.disk, ended.error);
    std::optional<NotificationService::Action> action;
    if (ended.remedy)
        action = NotificationService::Action{Outcomes::remedyLabel(ended.error->remedy), ended.remedy};
    m_notifications->sendNotification(outcome.title, outcome.message, std::move(action));
}
