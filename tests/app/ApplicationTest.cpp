// The application object on scripted models: start-up order, the tray label's count, and the
// single main window.
#include "app/QuorvelNTFSMountApp.h"

#include "app/RecordingNotifications.h"
#include "app/ScriptedMachine.h"
#include "dependencies/DependencyChecker.h"
#include "disks/DiskManager.h"
#include "support/TestSupport.h"
#include "ui/menu_bar/MenuBarView.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QPointer>
#include <QSystemTrayIcon>

#include <gtest/gtest.h>

namespace {

// Passes every question on and notes that one was asked.
class RecordingProbe : public FileProbe {
public:
    RecordingProbe(std::shared_ptr<FileProbe> inner, QStringList *events)
        : m_inner(std::move(inner))
        , m_events(events)
    {
    }
    bool exists(const QString &path) const override
    {
        note();
        return m_inner->exists(path);
    }
    bool isMountPoint(const QString &path) const override { return m_inner->isMountPoint(path); }
    bool isWritableMount(const QString &path) const override { return m_inner->isWritableMount(path); }

private:
    void note() const
    {
        if (m_events->isEmpty() || m_events->last() != "probe")
            m_events->append("probe");
    }
    std::shared_ptr<FileProbe> m_inner;
    QStringList *m_events;
};

QList<QWidget *> mainWindows()
{
    QList<QWidget *> found;
    for (QWidget *widget : QApplication::topLevelWidgets())
        if (widget->objectName() == "main-window")
            found << widget;
    return found;
}

void deliverDeferredDeletes()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
}

struct AppFixture : ::testing::Test {
    ScriptedMachine machine;
    std::shared_ptr<RecordingNotifications> notifications = std::make_shared<RecordingNotifications>();
    QStringList events;
    QList<QPointer<QWidget>> contents;
    std::unique_ptr<QuorvelNTFSMountApp> app;

    void start(const QList<NTFSDisk> &disks)
    {
        machine.setDisks(disks);
        notifications->onAuthorization = [this] { events << "authorization"; };
        ModelEnvironment env = machine.environment();
        env.files = std::make_shared<RecordingProbe>(env.files, &events);
        app = std::make_unique<QuorvelNTFSMountApp>(notifications, env, [this] {
            events << "window content";
            auto *content = new QWidget;
            contents << content;
            return content;
        });
        waitForScan();
    }
    void TearDown() override
    {
        app.reset();
        deliverDeferredDeletes();
    }
    void waitForScan()
    {
        ASSERT_TRUE(testsupport::processEventsUntil(
            [&] { return !machine.runner->calls().isEmpty() && !app->diskManager()->isScanning(); }));
    }
    void trigger(QMenu *menu, const QString &text)
    {
        for (QAction *action : menu->actions())
            if (action->iconText() == text)
                return action->trigger();
        FAIL() << "no entry " << text.toStdString();
    }
    QMenu *menu() const { return app->menuBar()->menu(); }
    QMenu *submenu(int index) const { return menu()->actions().at(index)->menu(); }
    // The tray item shows this label.
    void expectLabel(int writable)
    {
        EXPECT_EQ(app->statusLabel().writableCount, writable);
        StatusLabel expected;
        expected.writableCount = writable;
        EXPECT_EQ(app->trayIcon()->toolTip(), expected.toolTip());
        EXPECT_EQ(app->trayIcon()->icon().pixmap(22).toImage(), expected.icon().pixmap(22).toImage());
    }
};

} // namespace

TEST_F(AppFixture, StartsWithPermissionThenModelsThenTheSceneAndItsOwnMenu)
{
    testing::internal::CaptureStdout();
    start({readOnlyDisk("disk4s1", "Data")});
    const QString log = QString::fromStdString(testing::internal::GetCapturedStdout());

    EXPECT_EQ(events, QStringList({"authorization", "probe", "window content"}));
    EXPECT_EQ(notifications->authorizationRequests, 1);
    // The application's own pair fills the menu.
    EXPECT_EQ(app->diskManager()->disks().size(), 1);
    EXPECT_TRUE(app->depChecker()->status().isAllInstalled());
    EXPECT_EQ(submenu(0)->title(), "Data");
    EXPECT_EQ(app->trayIcon()->contextMenu(), menu());

    // The main window is open at start.
    ASSERT_EQ(mainWindows().size(), 1);
    EXPECT_TRUE(mainWindows().first()->isVisible());
    EXPECT_EQ(mainWindows().first()->windowTitle(), "Quorvel NTFS Mount");

    // Without a tray the window is the only way in, and closing it ends the application.
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        EXPECT_FALSE(QApplication::quitOnLastWindowClosed());
    } else {
        EXPECT_TRUE(log.contains("No system tray is available: closing the main window quits the application.\n"));
        EXPECT_TRUE(QApplication::quitOnLastWindowClosed());
    }
}

TEST_F(AppFixture, TrayLabelCountsWritableDisksAfterEveryChange)
{
    start({});
    expectLabel(0);

    machine.setDisks({readOnlyDisk("disk4s1", "Data"), unmountedDisk("disk5s1", "Old")});
    trigger(menu(), "ディスクを再スキャン");
    waitForScan();
    expectLabel(0);

    machine.setDisks({writableDisk("disk4s1", "Data")});
    trigger(menu(), "ディスクを再スキャン");
    waitForScan();
    expectLabel(1);

    machine.setDisks({writableDisk("disk2s1", "A"), readOnlyDisk("disk3s1", "B"), writableDisk("disk4s1", "C"),
                      unmountedDisk("disk5s1", "D"), writableDisk("disk6s1", "E")});
    trigger(menu(), "ディスクを再スキャン");
    waitForScan();
    expectLabel(3);
    EXPECT_EQ(app->trayIcon()->toolTip(), "Quorvel NTFS Mount  3");

    // An eject from the menu rescans, and the label follows.
    machine.setDisks({writableDisk("disk2s1", "A"), readOnlyDisk("disk3s1", "B"), unmountedDisk("disk4s1", "C"),
                      unmountedDisk("disk5s1", "D"), writableDisk("disk6s1", "E")});
    trigger(submenu(2), "安全に取り出す (Unmount)");
    ASSERT_TRUE(testsupport::processEventsUntil([&] { return notifications->sent.size() == 1; }));
    expectLabel(2);

    machine.setDisks({});
    trigger(menu(), "ディスクを再スキャン");
    waitForScan();
    expectLabel(0);
}

TEST_F(AppFixture, TheMainWindowIsNeverDuplicatedAndClosingItKeepsTheTray)
{
    start({readOnlyDisk("disk4s1", "Data")});
    QPointer<QWidget> window = mainWindows().value(0);
    ASSERT_TRUE(window);

    trigger(menu(), "メイン画面を開く");
    trigger(submenu(0), "詳細情報: disk4s1");
    app->openWindow("main-window");
    app->openWindow("some-other-window"); // not a scene of this application
    EXPECT_EQ(mainWindows(), QList<QWidget *>{window.data()});
    EXPECT_EQ(contents.size(), 1);
    EXPECT_EQ(QApplication::activeWindow(), window.data());

    // Closing destroys the window and its content; the tray item and its models stay.
    window->close();
    deliverDeferredDeletes();
    EXPECT_TRUE(window.isNull());
    EXPECT_TRUE(contents.first().isNull());
    EXPECT_TRUE(mainWindows().isEmpty());
    EXPECT_EQ(app->mainWindow()->window(), nullptr);
    EXPECT_EQ(submenu(0)->title(), "Data");

    // Reopening builds fresh content.
    trigger(submenu(0), "詳細情報: disk4s1");
    ASSERT_EQ(mainWindows().size(), 1);
    EXPECT_EQ(contents.size(), 2);
    EXPECT_FALSE(contents.last().isNull());
    EXPECT_TRUE(mainWindows().first()->isVisible());

    // A minimised window comes back.
    mainWindows().first()->showMinimized();
    trigger(menu(), "メイン画面を開く");
    EXPECT_FALSE(mainWindows().first()->isMinimized());
    EXPECT_EQ(contents.size(), 2);
}
