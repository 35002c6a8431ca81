// The application object on scripted models: the window and the tray on the same disks, the
// single main window, where a pulled-out disk is told, and the start-up mark.
#include "app/QuorvelNTFSMountApp.h"
#include "app/StartupMark.h"

#include "main_window/RecordingPresenter.h"
#include "support/TrayTestSupport.h"
#include "ui/main_window/ContentView.h"
#include "ui/main_window/DiskRowView.h"
#include "ui/menu_bar/MenuBarView.h"
#include "ui/toolkit/ToolkitButton.h"

#include <QApplication>
#include <QPointer>
#include <QTest>
#include <QWindow>

using testsupport::processEventsUntil;

namespace {

void deliverDeferredDeletes()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
}

struct AppFixture : ::testing::Test {
    ScriptedMachine machine;
    std::shared_ptr<RecordingNotifications> notifications = std::make_shared<RecordingNotifications>();
    std::shared_ptr<RecordingPresenter> presenter = std::make_shared<RecordingPresenter>();
    QList<QPointer<ContentView>> contents; // each main window's content, alerts recorded
    std::unique_ptr<QuorvelNTFSMountApp> app;

    void start(const QList<NTFSDisk> &disks)
    {
        machine.setPrerequisites(true, true, true);
        machine.setDisks(disks);
        app = std::make_unique<QuorvelNTFSMountApp>(notifications, machine.environment(), [this] {
            contents << new ContentView(machine.environment());
            contents.last()->setAlertPresenter(presenter);
            return contents.last().data();
        });
        waitForScan(machine, app->diskManager());
        ASSERT_TRUE(processEventsUntil([&] { return contents.last()->rows().size() == disks.size(); }));
    }
    void TearDown() override
    {
        app.reset();
        deliverDeferredDeletes();
    }
    void rescan()
    {
        machine.runner->clearCalls();
        trigger(menu(), kRescanEntry);
        waitForScan(machine, app->diskManager());
    }
    QMenu *menu() const { return app->menuBar()->menu(); }
    QMenu *submenu(int index) const { return menu()->actions().at(index)->menu(); }
};

// Once, and only when the window is on screen and the first scan has ended, whichever comes last.
struct StartupMarkTest : ::testing::Test {
    ScriptedMachine machine;
    QWidget window;
    std::unique_ptr<DiskManager> disks;
    std::unique_ptr<StartupMark> mark;
    int reached = 0;

    void SetUp() override
    {
        machine.setDisks({readOnlyDisk("disk4s1", "Data")});
        disks = std::make_unique<DiskManager>(machine.environment());
        mark = std::make_unique<StartupMark>(&window, disks.get());
        QObject::connect(mark.get(), &StartupMark::reached, [this] { ++reached; });
    }
    bool exposed() const { return window.windowHandle() && window.windowHandle()->isExposed(); }
    // Neither a rescan nor showing the window again fires it a second time.
    void TearDown() override
    {
        testsupport::await(disks->scanDisks());
        window.hide();
        window.show();
        ASSERT_TRUE(processEventsUntil([&] { return exposed(); }));
        QCoreApplication::processEvents();
        EXPECT_EQ(reached, 1);
    }
};

} // namespace

// A hibernated volume mounted and a busy one ejected, from the window and from the tray: both
// give the system's words first, then the explanation, and offer the remedy, which runs the
// read-only mount or the same command again.
TEST_F(AppFixture, WindowAndTrayTellAFailureAlikeAndTheirRemedyRunsTheRightCommand)
{
    const QString ntfs3g = "\"/opt/homebrew/bin/ntfs-3g\" /dev/disk4s1 \"/Volumes/Data\" -o ";
    const QString unmount = "/usr/sbin/diskutil unmount /dev/disk6s1";
    machine.files->readOnlyMounts.insert("/Volumes/Data");
    machine.runner->on(ntfs3g + "local,allow_other,auto_xattr,backend=fskit",
                       ScriptedRunner::ok("Windows is hibernated, mounted as read-only."));
    machine.runner->on(unmount, ScriptedRunner::fail("Resource busy"));
    start({readOnlyDisk("disk4s1", "Data"), writableDisk("disk6s1", "Stick")});
    EXPECT_EQ(app->statusLabel().writableCount, 1); // the tray label counts the writable ones
    const struct {
        QString error, remedy, remedyLine, remedyOutcome;
    } cases[] = {
        {"Mount failed: Windows is hibernated, mounted as read-only.\n\n", "読み取り専用でマウント",
         ntfs3g + "ro,local,allow_other,auto_xattr,backend=fskit", "「Data」を読み取り専用でマウントしたよ。"},
        {"Failed to unmount: Resource busy\n\n", "もう一度試す", unmount, "Failed to unmount: Resource busy\n\n"},
    };
    for (int index : {0, 1}) {
        const auto &c = cases[index];
        SCOPED_TRACE(c.remedy.toStdString());
        DiskRowView *row = contents.last()->rows().at(index);
        QTest::mouseClick(index ? row->unmountButton() : row->mountButton(), Qt::LeftButton);
        ASSERT_TRUE(processEventsUntil([&] { return presenter->open.has_value(); }));
        const Alert alert = *presenter->open;
        EXPECT_TRUE(alert.message.startsWith(c.error) && alert.message.size() > c.error.size())
            << alert.message.toStdString();
        ASSERT_EQ(alert.buttons.size(), 2);
        EXPECT_EQ(alert.buttons[1].text, c.remedy);

        notifications->sent.clear();
        trigger(submenu(index), index ? kEjectEntry : kMountEntry);
        ASSERT_TRUE(processEventsUntil([&] { return !notifications->sent.isEmpty(); }));
        EXPECT_TRUE(notifications->sent[0].endsWith(" / " + alert.message + " [" + c.remedy + "]"))
            << notifications->sent[0].toStdString();

        const qsizetype before = machine.runner->lines().count(c.remedyLine);
        ASSERT_TRUE(presenter->choose(c.remedy));
        ASSERT_TRUE(processEventsUntil([&] { return presenter->open.has_value(); })); // the remedy's outcome
        EXPECT_TRUE(presenter->open->message.startsWith(c.remedyOutcome)) << presenter->open->message.toStdString();
        ASSERT_TRUE(presenter->choose("OK"));
        ASSERT_TRUE(notifications->lastAction);
        notifications->lastAction->run();
        ASSERT_TRUE(processEventsUntil([&] { return notifications->sent.size() == 2; }));
        EXPECT_TRUE(notifications->sent[1].contains(" / " + c.remedyOutcome)) << notifications->sent[1].toStdString();
        EXPECT_EQ(machine.runner->lines().count(c.remedyLine), before + 2);
    }
}

TEST_F(AppFixture, OpeningTheMainWindowAgainRaisesTheOneThereIs)
{
    start({readOnlyDisk("disk4s1", "Data")});
    QWidget *window = contents.last()->window();
    window->showMinimized();
    trigger(menu(), "メイン画面を開く");
    trigger(submenu(0), "詳細情報: disk4s1");
    app->openWindow("main-window");
    EXPECT_EQ(contents.size(), 1);
    EXPECT_FALSE(window->isMinimized());
    EXPECT_EQ(QApplication::activeWindow(), window);
}

// Told once: in the window while it is open, else in a notification with the same words.
TEST_F(AppFixture, AMountedDiskPulledOutIsToldInTheVisibleWindowElseInANotification)
{
    start({writableDisk("disk4s1", "Data")});
    const auto pullOut = [&] {
        machine.files->missingDevices.insert("/dev/disk4s1");
        machine.setDisks({});
        rescan();
    };
    pullOut();
    ASSERT_TRUE(processEventsUntil([&] { return presenter->open.has_value(); }));
    EXPECT_TRUE(presenter->open->message.startsWith("「Data」")) << presenter->open->message.toStdString();
    EXPECT_TRUE(notifications->sent.isEmpty());
    EXPECT_EQ(app->statusLabel().writableCount, 0);

    contents.last()->window()->close();
    deliverDeferredDeletes();
    machine.files->missingDevices.clear();
    machine.setDisks({writableDisk("disk4s1", "Data")});
    rescan();
    pullOut();
    ASSERT_TRUE(processEventsUntil([&] { return !notifications->sent.isEmpty(); }));
    EXPECT_EQ(notifications->sent, QStringList{presenter->open->title + " / " + presenter->open->message});
    EXPECT_EQ(presenter->presented.size(), 1);
}

TEST_F(StartupMarkTest, WindowFirstThenTheScanEnds)
{
    machine.runner->setAsyncDelay(std::chrono::milliseconds(300)); // the listing outlasts the exposure
    window.show();
    ASSERT_TRUE(processEventsUntil([&] { return exposed(); }));
    EXPECT_EQ(reached, 0);
    ASSERT_TRUE(processEventsUntil([&] { return reached > 0; }));
    EXPECT_EQ(disks->disks().size(), 1); // the list was there when the mark fired
}

TEST_F(StartupMarkTest, ScanEndsFirstThenTheWindowComesUp)
{
    waitForScan(machine, disks.get());
    QCoreApplication::processEvents();
    EXPECT_EQ(reached, 0);
    window.show();
    ASSERT_TRUE(processEventsUntil([&] { return reached > 0; }));
}
