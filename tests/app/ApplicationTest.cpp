// The application object on scripted models: start-up order, the tray label's count, and the
// single main window.
#include "app/QuorvelNTFSMountApp.h"

#include "dependencies/DependencyChecker.h"
#include "main_window/RecordingPresenter.h"
#include "support/TrayTestSupport.h"
#include "ui/main_window/ContentView.h"
#include "ui/menu_bar/MenuBarView.h"

#include <QApplication>
#include <QPointer>
#include <QSystemTrayIcon>

namespace {

// Notes the first of each run of existence questions.
struct NotingProbe : ScriptedFileProbe {
    QStringList *events;
    explicit NotingProbe(QStringList *events) : events(events) {}
    bool exists(const QString &path) const override
    {
        if (events->value(events->size() - 1) != "probe")
            events->append("probe");
        return ScriptedFileProbe::exists(path);
    }
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
    // The window's content: a plain widget, or the real view with alerts recorded.
    std::shared_ptr<RecordingPresenter> presenter;

    void start(const QList<NTFSDisk> &disks)
    {
        machine.files = std::make_shared<NotingProbe>(&events);
        machine.setPrerequisites(true, true, true);
        machine.setDisks(disks);
        notifications->onAuthorization = [this] { events << "authorization"; };
        app = std::make_unique<QuorvelNTFSMountApp>(notifications, machine.environment(), [this] {
            events << "window content";
            if (presenter) {
                auto *content = new ContentView(machine.environment());
                content->setAlertPresenter(presenter);
                contents << content;
            } else {
                contents << new QWidget;
            }
            return contents.last().data();
        });
        waitForScan();
    }
    void TearDown() override
    {
        app.reset();
        deliverDeferredDeletes();
    }
    void waitForScan() { ::waitForScan(machine, app->diskManager()); }
    QMenu *menu() const { return app->menuBar()->menu(); }
    QMenu *submenu(int index) const { return menu()->actions().at(index)->menu(); }
};

} // namespace

TEST_F(AppFixture, StartsWithPermissionThenModelsThenTheSceneAndItsOwnMenu)
{
    testing::internal::CaptureStdout();
    start({readOnlyDisk("disk4s1", "Data")});
    const QString log = QString::fromStdString(testing::internal::GetCapturedStdout());

    EXPECT_EQ(events, QStringList({"authorization", "probe", "window content"}));
    EXPECT_TRUE(app->dependencyChecker()->status().isAllInstalled());
    EXPECT_EQ(submenu(0)->title(), "Data");
    EXPECT_EQ(app->trayIcon()->contextMenu(), menu());
    ASSERT_EQ(mainWindows().size(), 1);
    EXPECT_TRUE(mainWindows().first()->isVisible());

    // Without a tray the window is the only way in, and closing it ends the application.
    const bool tray = QSystemTrayIcon::isSystemTrayAvailable();
    EXPECT_EQ(QApplication::quitOnLastWindowClosed(), !tray);
    EXPECT_EQ(log.contains("No system tray is available: closing the main window quits the application.\n"), !tray);
}

TEST_F(AppFixture, TrayLabelCountsWritableDisksAfterEveryChange)
{
    const auto expectLabel = [&](int writable) {
        StatusLabel expected;
        expected.writableCount = writable;
        EXPECT_EQ(app->statusLabel().writableCount, writable);
        EXPECT_EQ(app->trayIcon()->toolTip(), expected.toolTip());
        EXPECT_EQ(app->trayIcon()->icon().pixmap(22).toImage(), expected.icon().pixmap(22).toImage());
    };
    start({});
    expectLabel(0);
    const struct {
        QList<NTFSDisk> disks;
        int writable;
    } scans[] = {
        {{readOnlyDisk("disk4s1", "Data"), unmountedDisk("disk5s1", "Old")}, 0},
        {{writableDisk("disk4s1", "Data")}, 1},
        {{writableDisk("disk2s1", "A"), readOnlyDisk("disk3s1", "B"), writableDisk("disk4s1", "C"),
          unmountedDisk("disk5s1", "D"), writableDisk("disk6s1", "E")}, 3},
    };
    for (const auto &scan : scans) {
        machine.setDisks(scan.disks);
        machine.runner->clearCalls();
        trigger(menu(), "ディスクを再スキャン");
        waitForScan();
        expectLabel(scan.writable);
    }

    // An eject from the menu rescans, and the label follows.
    machine.setDisks({writableDisk("disk2s1", "A"), readOnlyDisk("disk3s1", "B"), unmountedDisk("disk4s1", "C"),
                      unmountedDisk("disk5s1", "D"), writableDisk("disk6s1", "E")});
    trigger(submenu(2), "安全に取り出す (Unmount)");
    ASSERT_TRUE(testsupport::processEventsUntil([&] { return notifications->sent.size() == 1; }));
    expectLabel(2);
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
    EXPECT_EQ(submenu(0)->title(), "Data");

    // Reopening builds fresh content; a minimised window comes back without new content.
    trigger(submenu(0), "詳細情報: disk4s1");
    ASSERT_EQ(mainWindows().size(), 1);
    EXPECT_EQ(contents.size(), 2);
    EXPECT_TRUE(mainWindows().first()->isVisible());
    mainWindows().first()->showMinimized();
    trigger(menu(), "メイン画面を開く");
    EXPECT_FALSE(mainWindows().first()->isMinimized());
    EXPECT_EQ(contents.size(), 2);
}

// A mounted disk pulled out is told once: in the window while it is open, else in a notification.
TEST_F(AppFixture, AMountedDiskPulledOutIsToldInTheOpenWindowElseInANotification)
{
    presenter = std::make_shared<RecordingPresenter>();
    const NTFSDisk data = writableDisk("disk4s1", "Data");
    start({data});
    const QString message = "「Data」はアンマウントしないまま取り外されたよ。直前に保存したファイルは、ディスクに書き込まれて"
                            "いないかもしれないよ。次からは、取り外す前にアンマウントしてね。";
    const auto pullOut = [&] {
        machine.files->missingDevices.insert("/dev/disk4s1");
        machine.setDisks({});
        machine.runner->clearCalls();
        trigger(menu(), "ディスクを再スキャン");
        waitForScan();
    };
    pullOut();
    ASSERT_TRUE(testsupport::processEventsUntil([&] { return presenter->open.has_value(); }));
    EXPECT_EQ(presenter->open->title, "ディスクが取り外されたよ");
    EXPECT_EQ(presenter->open->message, message);
    EXPECT_TRUE(notifications->sent.isEmpty());

    mainWindows().first()->close();
    deliverDeferredDeletes();
    machine.files->missingDevices.clear();
    machine.setDisks({data});
    machine.runner->clearCalls();
    trigger(menu(), "ディスクを再スキャン");
    waitForScan();
    pullOut();
    ASSERT_TRUE(testsupport::processEventsUntil([&] { return !notifications->sent.isEmpty(); }));
    testsupport::processEventsUntil([] { return false; }, 50);
    EXPECT_EQ(notifications->sent, QStringList{"ディスクが取り外されたよ / " + message});
    EXPECT_EQ(presenter->presented.size(), 1);
}
