#include "app/QuorvelNTFSMountApp.h"

#include "AppInfo.h"
#include "dependencies/DependencyChecker.h"
#include "disks/DiskManager.h"
#include "shell/Log.h"
#include "ui/DiskActions.h"
#include "ui/Outcomes.h"
#include "ui/main_window/ContentView.h"
#include "ui/menu_bar/MenuBarView.h"

#include <QApplication>
#include <QCursor>
#include <QMenu>
#include <QPointer>
#include <QSystemTrayIcon>

QuorvelNTFSMountApp::QuorvelNTFSMountApp(std::shared_ptr<NotificationService> notifications,
                                         const ModelEnvironment &environment,
                                         WindowScene::ContentFactory makeMainWindowContent, QObject *parent)
    : QObject(parent)
    , m_notifications(std::move(notifications))
{
    // Permission first, before anything else exists; the answer is not waited for.
    m_notifications->requestNotificationAuthorization();

    // The tray item's models: the disk model scans from the event loop, the checker at once.
    m_diskManager = new DiskManager(environment, this);
    m_dependencyChecker = new DependencyChecker(environment.platform, environment.runner, environment.files, this);
    m_diskActions = new DiskActions(m_diskManager, m_dependencyChecker, this);
    m_diskActions->setOnNoNtfs3g([this] {
        const Outcome outcome = Outcomes::windowNoNtfs3g();
        m_notifications->sendNotification(outcome.title, outcome.message);
    });
    connect(m_diskManager, &DiskManager::mountedDiskRemoved, this, &QuorvelNTFSMountApp::reportRemoval);
    connect(m_diskManager, &DiskManager::diskArrived, this, &QuorvelNTFSMountApp::offerMount);

    // The scenes: the tray item, then the main window, which opens at start.
    m_mainWindow = new WindowScene(AppInfo::mainWindowIdentifier(), AppInfo::title(),
                                   std::move(makeMainWindowContent), this);
    installTrayItem();
    m_mainWindow->open();
}

QuorvelNTFSMountApp::~QuorvelNTFSMountApp() = default;

void QuorvelNTFSMountApp::installTrayItem()
{
    MenuBarActions actions{
        [this](const QString &identifier) { openWindow(identifier); },
        [this] { activate(); },
        [] { QCoreApplication::quit(); },
    };
    m_menuBar = new MenuBarView(m_diskManager, m_dependencyChecker, m_diskActions, std::move(actions), m_notifications,
                                this);

    m_trayIcon = new QSystemTrayIcon(this);
    m_trayIcon->setContextMenu(m_menuBar->menu());
    // A click drops the menu down, as the menu bar's item does; the context click shows it too.
    connect(m_trayIcon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger)
            m_menuBar->menu()->popup(QCursor::pos());
    });
    updateStatusLabel();
    connect(m_diskManager, &DiskManager::disksChanged, this, &QuorvelNTFSMountApp::updateStatusLabel);

    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        QApplication::setQuitOnLastWindowClosed(false);
    } else {
        writeLogLine(QStringLiteral("No system tray is available: closing the main window quits the application."));
        QApplication::setQuitOnLastWindowClosed(true);
    }
    m_trayIcon->show();
}

void QuorvelNTFSMountApp::updateStatusLabel()
{
    m_statusLabel = StatusLabel::forDisks(m_diskManager->disks());
    m_trayIcon->setIcon(m_statusLabel.icon());
    m_trayIcon->setToolTip(m_statusLabel.toolTip());
}

void QuorvelNTFSMountApp::reportRemoval(const NTFSDisk &disk)
{
    QWidget *window = m_mainWindow->window();
    if (window && window->isVisible() && !window->isMinimized()) {
        if (auto *content = window->findChild<ContentView *>()) {
            content->showRemoval(disk);
            return;
        }
    }
    const Outcome outcome = Outcomes::removedWhileMounted(disk);
    m_notifications->sendNotification(outcome.title, outcome.message);
}

void QuorvelNTFSMountApp::offerMount(const NTFSDisk &disk)
{
    if (disk.isWritable)
        return;
    const Outcome offer = Outcomes::arrived(disk);
    // As the menu's entry: the prerequisites looked at again, the disk as listed then, and the
    // outcome told in a notification.
    m_notifications->sendNotification(offer.title, offer.message,
                                      NotificationService::Action{Outcomes::mountReadWriteLabel(), [self = QPointer(this), disk] {
                                          if (!self)
                                              return;
                                          QCoro::connect(self->m_dependencyChecker->checkDependencies(), self.data(), [self, disk] {
                                              self->m_diskActions->run(self->m_diskManager->listed(disk),
                                                                       DiskActions::Command::MountReadWrite);
                                          });
                                      }});
}

void QuorvelNTFSMountApp::openWindow(const QString &identifier)
{
    if (identifier == m_mainWindow->identifier())
        m_mainWindow->open();
}

void QuorvelNTFSMountApp::activate()
{
    if (QWidget *window = m_mainWindow->window())
        window->activateWindow();
}
