// The application object on scripted models: the window and the tray on the same disks, the
// single main window, where a pulled-out disk is told, and the start-up mark.
#include "app/StartupMark.h"
#include "shell/OffEventLoop.h"

#include "support/AppFixture.h"
#include "ui/main_window/DiskRowView.h"
#include "ui/main_window/HeaderView.h"
#include "ui/toolkit/ToolkitButton.h"

#include <QApplication>
#include <QTest>
#include <QWindow>

namespace {

// One line per entry as the user sees it: "---" for a separator, "[off]" for a greyed-out entry,
// "▸" for a submenu.
QStringList describe(const QMenu *menu)
{
    QStringList lines;
    for (const QAction *action : menu->actions())
        lines << QString(action->isEnabled() ? "" : "[off] ") + (action->menu() ? "▸ " : "")
                + (action->isSeparator() ? "---" : action->iconText()); // without mnemonic markers
    return lines;
}

} // namespace

// Not sorted, two volumes of the same name both listed, and "&" shown as it is. The
// prerequisites change behind the models' backs (a setup or an uninstall): the window looks
// again on each way of refreshing, the menu each time it opens. Mount needs fuse-t and ntfs-3g
// whatever Homebrew says; while one is missing, the panel stands below the window's first divider.
TEST_F(AppFixture, MountFollowsThePrerequisitesInTheWindowOnEachRefreshAndInTheMenuOnOpening)
{
    start({disk("disk6s2", "R&D", false), readOnlyDisk("disk4s1", "Data"), writableDisk("disk5s1", "Data")});
    ASSERT_EQ(describe(menu()),
              QStringList({"▸ R&D", "▸ Data", "▸ Data", "---", kRescanEntry, "メイン画面を開く", "---", "アプリを終了"}));
    EXPECT_EQ(describe(submenu(0)), QStringList({"詳細情報: disk6s2", "---", kMountEntry}));
    EXPECT_EQ(describe(submenu(1)), QStringList({"詳細情報: disk4s1", "---", kMountEntry}));
    EXPECT_EQ(describe(submenu(2)), QStringList({"詳細情報: disk5s1", "---", kEjectEntry}));
    const std::function<void()> header = [&] { QTest::mouseClick(view()->headerView()->refreshButton(), Qt::LeftButton); };
    const std::function<void()> reshow = [&] { view()->hide(), view()->show(); };
    const std::function<void()> full = [&] { view()->fullRefresh(); };
    const struct {
        bool homebrew, fuseT, ntfs3g;
        std::function<void()> refresh;
    } cases[] = {{true, false, true, header}, {false, true, true, reshow}, {true, true, false, full}, {true, true, true, header}};
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.homebrew << c.fuseT << c.ntfs3g);
        offloop::blockingPool().waitForDone(); // no check still reads the scripted paths
        machine.setPrerequisites(c.homebrew, c.fuseT, c.ntfs3g);
        c.refresh();
        const bool ready = c.fuseT && c.ntfs3g;
        // Each check lands a moment later, from a worker.
        EXPECT_TRUE(processEventsUntil([&] { return view()->row("disk4s1")->mountButton()->isEnabled() == ready; }));
        EXPECT_EQ(view()->sections().indexOf(view()->warningView()), ready ? -1 : 2);
        menu()->popup(QPoint(0, 0));
        menu()->hide();
        EXPECT_TRUE(processEventsUntil([&] { return describe(submenu(1)).last() == (ready ? "" : "[off] ") + kMountEntry; }));
        QApplication::processEvents();
        ASSERT_TRUE(processEventsUntil([&] { return idle(); }));
    }
}

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
    machine.runner->on("/usr/sbin/lsof -F pcu +f -- \"/Volumes/Stick\"", ScriptedRunner::ok("p42\ncPreview\nu" + QString::number(::getuid()) + "\nf3"));
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
        DiskRowView *row = view()->rows().at(index);
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
    QWidget *window = view()->window();
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

    view()->window()->close();
    deliverDeferredDeletes();
    machine.files->missingDevices.clear();
    machine.setDisks({writableDisk("disk4s1", "Data")});
    rescan();
    pullOut();
    ASSERT_TRUE(processEventsUntil([&] { return !notifications->sent.isEmpty(); }));
    EXPECT_EQ(notifications->sent, QStringList{presenter->open->title + " / " + presenter->open->message});
    EXPECT_EQ(presenter->presented.size(), 1);
}

// Once, and only when the window is on screen and the first scan has ended, whichever comes
// last: neither a rescan nor showing the window again fires it a second time.
TEST(StartupMarkTest, FiresOnceWhenTheWindowIsUpAndTheFirstScanHasEnded)
{
    for (const bool windowFirst : {true, false}) {
        SCOPED_TRACE(windowFirst ? "window first" : "scan first");
        ScriptedMachine machine;
        machine.setDisks({readOnlyDisk("disk4s1", "Data")});
        machine.runner->setAsyncDelay(std::chrono::milliseconds(windowFirst ? 300 : 0)); // the listing outlasts the exposure
        QWidget window;
        DiskManager disks(machine.environment());
        StartupMark mark(&window, &disks);
        int reached = 0;
        QObject::connect(&mark, &StartupMark::reached, [&] { ++reached; });
        const auto show = [&] { // and see it exposed
            window.show();
            return processEventsUntil([&] { return window.windowHandle() && window.windowHandle()->isExposed(); });
        };
        if (windowFirst)
            ASSERT_TRUE(show());
        else
            waitForScan(machine, &disks);
        QCoreApplication::processEvents();
        EXPECT_EQ(reached, 0);
        ASSERT_TRUE(show() && processEventsUntil([&] { return reached > 0; }));
        EXPECT_EQ(disks.disks().size(), 1); // the list was there when the mark fired
        testsupport::await(disks.scanDisks());
        window.hide();
        ASSERT_TRUE(show());
        QCoreApplication::processEvents();
        EXPECT_EQ(reached, 1);
    }
}

// A disk attached while the application runs, that the system did not mount writable, is offered
// once in a notification whose action mounts it as the menu's entry does; none for the disks there
// at start, none for one attached writable.
TEST_F(AppFixture, AnNtfsDiskArrivingIsOfferedOnceAndItsActionMountsItAsTheMenuDoes)
{
    start({writableDisk("disk6s1", "Stick")});
    EXPECT_TRUE(notifications->sent.isEmpty());
    machine.setDisks({writableDisk("disk6s1", "Stick"), disk("disk4s1", "Data", false), writableDisk("disk7s1", "Card")});
    rescan();
    rescan();
    ASSERT_EQ(notifications->sent.size(), 1);
    EXPECT_TRUE(notifications->sent[0].contains("「Data」") && notifications->sent[0].endsWith(" [" + kMountEntry + "]"))
        << notifications->sent[0].toStdString();

    notifications->lastAction->run();
    ASSERT_TRUE(processEventsUntil([&] { return notifications->sent.size() == 2; }));
    EXPECT_TRUE(notifications->sent[1].startsWith("マウント成功 / 「Data」")) << notifications->sent[1].toStdString();
    EXPECT_EQ(machine.runner->lines().count("\"/opt/homebrew/bin/ntfs-3g\" /dev/disk4s1 \"/Volumes/Data\" -o "
                                            "local,allow_other,auto_xattr,backend=fskit"),
              1);
}
