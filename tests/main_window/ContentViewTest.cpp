// The main window's root view on scripted models: one setup or uninstall at a time, each card's
// spinner, and a card recoloured by a palette switch (its prerequisites are the application's test).
#include "support/AppFixture.h"
#include "dependencies/DependencyChecker.h"
#include "ui/main_window/DiskRowView.h"
#include "ui/main_window/FooterView.h"
#include "ui/toolkit/ActivitySpinner.h"
#include "ui/toolkit/ToolkitButton.h"

#include <QApplication>
#include <QTest>

TEST_F(AppFixture, WhileTheSetupOrTheUninstallRunsTheOtherCannotBeStarted)
{
    start({readOnlyDisk("disk4s1", "Data")}, false); // ntfs-3g missing: the panel; fuse-t present: the uninstall command
    machine.runner->setAsyncDelay(std::chrono::milliseconds(60));
    DependencyChecker *checker = view()->dependencyChecker();
    view()->warningView()->setExpanded(true);
    QApplication::processEvents();
    ToolkitButton *setup = view()->warningView()->setupButton(), *uninstall = view()->footerView()->uninstallButton();
    ASSERT_TRUE(setup->isVisible() && setup->isEnabled() && uninstall->isVisible() && uninstall->isEnabled());

    QTest::mouseClick(setup, Qt::LeftButton);
    ASSERT_TRUE(processEventsUntil([&] { return checker->isInstalling(); }));
    EXPECT_TRUE(uninstall->isVisible() && !uninstall->isEnabled());
    QTest::mouseClick(uninstall, Qt::LeftButton);
    EXPECT_FALSE(presenter->open);
    ASSERT_TRUE(processEventsUntil([&] { return !checker->isInstalling(); }));
    EXPECT_TRUE(uninstall->isEnabled());

    // The confirmation's safe answer is its cancel button, and it runs nothing.
    QTest::mouseClick(uninstall, Qt::LeftButton);
    ASSERT_TRUE(presenter->open && presenter->open->buttons.size() == 2);
    EXPECT_EQ(presenter->open->buttons[1].role, Alert::Button::Role::Cancel);
    const qsizetype before = machine.runner->calls().size();
    ASSERT_TRUE(presenter->choose("キャンセル"));
    QTest::qWait(30);
    EXPECT_EQ(machine.runner->calls().size(), before);
    QTest::mouseClick(uninstall, Qt::LeftButton);
    ASSERT_TRUE(presenter->choose("アンインストールする"));
    ASSERT_TRUE(processEventsUntil([&] { return checker->isUninstalling(); }));
    EXPECT_TRUE(setup->isVisible() && !setup->isEnabled());
    QTest::mouseClick(setup, Qt::LeftButton);
    QTest::qWait(30);
    EXPECT_FALSE(checker->isInstalling());
    ASSERT_TRUE(processEventsUntil([&] { return !checker->isUninstalling(); }));
}

// A second command while the first runs: both cards spin. The unmount (one command) ends before
// the remount (several), whose card spins on until it ends too.
TEST_F(AppFixture, EachCardSpinsUntilItsOwnCommandEndsAndClosingMidMountTakesTheModelsAlong)
{
    start({readOnlyDisk("disk4s1", "Data"), disk("disk4s3", "Backup", false), writableDisk("disk6", "Stick")});
    machine.runner->setAsyncDelay(std::chrono::milliseconds(80));
    const auto spinning = [&] {
        QStringList nodes;
        for (DiskRowView *row : view()->rows())
            if (row->spinner()->isVisible() && row->spinner()->isAnimating())
                nodes << row->disk().deviceNode;
        return nodes;
    };
    QTest::mouseClick(view()->row("disk4s1")->mountButton(), Qt::LeftButton);
    EXPECT_EQ(spinning(), QStringList({"disk4s1"}));
    QTest::qWait(100);
    QTest::mouseClick(view()->row("disk6")->unmountButton(), Qt::LeftButton);
    EXPECT_EQ(spinning(), QStringList({"disk4s1", "disk6"}));
    ASSERT_TRUE(processEventsUntil([&] { return presenter->open.has_value(); }));
    EXPECT_TRUE(presenter->open->message.startsWith("「Stick」")) << presenter->open->message.toStdString();
    EXPECT_EQ(spinning(), QStringList({"disk4s1"}));
    presenter->choose("OK");
    ASSERT_TRUE(processEventsUntil([&] { return presenter->open.has_value(); }));
    EXPECT_TRUE(presenter->open->message.startsWith("「Data」")) << presenter->open->message.toStdString();
    EXPECT_EQ(spinning(), QStringList());
    presenter->choose("OK");

    // Closed mid-mount: the models go with the window and the rest of the mount finds no owner.
    QTest::mouseClick(view()->row("disk4s1")->mountButton(), Qt::LeftButton);
    QTest::qWait(100);
    QPointer<DiskManager> manager = view()->diskManager();
    view()->window()->close();
    deliverDeferredDeletes();
    EXPECT_TRUE(manager.isNull());
    QTest::qWait(1300); // past the mount's settle wait, so its coroutine has ended
    EXPECT_FALSE(presenter->open);
}

TEST(DiskRowView, APaletteSwitchRecoloursTheStateWithTheNewModesNamedColour)
{
    DiskRowView row;
    row.setDisk(readOnlyDisk("disk4s1", "Data")); // read-only: blue
    row.show();
    const QPalette light = QApplication::palette();
    QPalette dark = light;
    dark.setColor(QPalette::Window, QColor(0x1e, 0x1e, 0x1e));
    dark.setColor(QPalette::WindowText, QColor(0xee, 0xee, 0xee));
    QList<QColor> seen;
    for (const QPalette &palette : {dark, light}) {
        QApplication::setPalette(palette);
        QApplication::processEvents();
        EXPECT_EQ(row.stateLabel()->resolvedTextColor(), Toolkit::color(Toolkit::NamedColor::Blue));
        seen << row.stateLabel()->resolvedTextColor();
    }
    EXPECT_NE(seen[0], seen[1]);
}
