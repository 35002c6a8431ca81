// The main window's root view on scripted models: mount follows the prerequisites, one setup or
// uninstall at a time, each card's spinner; and a card recoloured by a palette switch.
#include "ui/main_window/ContentView.h"

#include "RecordingPresenter.h"
#include "dependencies/DependencyChecker.h"
#include "disks/DiskManager.h"
#include "support/ScriptedMachine.h"
#include "support/TestSupport.h"
#include "ui/main_window/DependencyWarningView.h"
#include "ui/main_window/DiskRowView.h"
#include "ui/main_window/FooterView.h"
#include "ui/main_window/HeaderView.h"
#include "ui/toolkit/ActivitySpinner.h"
#include "ui/toolkit/ToolkitButton.h"

#include <QApplication>
#include <QTest>

#include <gtest/gtest.h>

using namespace testsupport;

namespace {

const NTFSDisk kData{"disk4s1", "Data", 1000204886016, QString("/Volumes/Data"), false, "ntfs"};
const NTFSDisk kBackup{"disk4s3", "Backup", 500000000000, std::nullopt, false, "ntfs"};
const NTFSDisk kStick{"disk6", "Stick", 32017047552, QString("/Volumes/Stick"), true, "ntfs"};

struct WindowFixture : ::testing::Test {
    ScriptedMachine machine;
    std::shared_ptr<RecordingPresenter> presenter = std::make_shared<RecordingPresenter>();
    std::unique_ptr<ContentView> view;

    void SetUp() override { DependencyWarningView::setAnimationDuration(0); } // the panel opens at once
    // Opens the window on a machine with `disks` and waits for the first scan to finish.
    void open(const QList<NTFSDisk> &disks, bool ntfs3g = true)
    {
        machine.setDisks(disks);
        machine.setPrerequisites(true, true, ntfs3g);
        view = std::make_unique<ContentView>(machine.environment());
        view->setAlertPresenter(presenter);
        view->show();
        ASSERT_TRUE(processEventsUntil([&] { return machine.runner->lines().contains("/sbin/mount ") && idle(); }));
        ASSERT_EQ(view->rows().size(), disks.size());
    }
    bool idle() const { return !view->diskManager()->isScanning(); }
    void waitForAlert() { ASSERT_TRUE(processEventsUntil([&] { return presenter->open.has_value(); })); }
};

} // namespace

// Each way of refreshing looks for the prerequisites again; Homebrew is not needed to mount.
TEST_F(WindowFixture, MountIsEnabledOnlyWithFuseTAndNtfs3gAfterEachRefresh)
{
    open({kData});
    const std::function<void()> header = [&] { QTest::mouseClick(view->headerView()->refreshButton(), Qt::LeftButton); };
    const std::function<void()> reshow = [&] { view->hide(), view->show(); };
    const std::function<void()> full = [&] { view->fullRefresh(); };
    const struct {
        bool homebrew, fuseT, ntfs3g;
        std::function<void()> refresh;
    } cases[] = {{true, false, true, header}, {false, true, true, reshow}, {true, true, false, full}, {true, true, true, header}};
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.homebrew << c.fuseT << c.ntfs3g);
        machine.setPrerequisites(c.homebrew, c.fuseT, c.ntfs3g);
        c.refresh();
        const bool ready = c.fuseT && c.ntfs3g;
        EXPECT_EQ(view->row("disk4s1")->mountButton()->isEnabled(), ready);
        EXPECT_EQ(view->sections().indexOf(view->warningView()), ready ? -1 : 2); // the panel, below the first divider
        QApplication::processEvents();
        ASSERT_TRUE(processEventsUntil([&] { return idle(); }));
    }
}

TEST_F(WindowFixture, WhileTheSetupOrTheUninstallRunsTheOtherCannotBeStarted)
{
    open({kData}, false); // ntfs-3g missing: the panel; fuse-t present: the uninstall command
    machine.runner->setAsyncDelay(std::chrono::milliseconds(60));
    DependencyChecker *checker = view->dependencyChecker();
    view->warningView()->setExpanded(true);
    QApplication::processEvents();
    ToolkitButton *setup = view->warningView()->setupButton(), *uninstall = view->footerView()->uninstallButton();
    ASSERT_TRUE(setup->isVisible() && setup->isEnabled() && uninstall->isVisible() && uninstall->isEnabled());

    QTest::mouseClick(setup, Qt::LeftButton);
    ASSERT_TRUE(processEventsUntil([&] { return checker->isInstalling(); }));
    EXPECT_TRUE(uninstall->isVisible());
    EXPECT_FALSE(uninstall->isEnabled());
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
    EXPECT_TRUE(setup->isVisible());
    EXPECT_FALSE(setup->isEnabled());
    QTest::mouseClick(setup, Qt::LeftButton);
    QTest::qWait(30);
    EXPECT_FALSE(checker->isInstalling());
    ASSERT_TRUE(processEventsUntil([&] { return !checker->isUninstalling(); }));
}

// A second command while the first runs: both cards spin. The unmount (one command) ends before
// the remount (several), whose card spins on until it ends too.
TEST_F(WindowFixture, EachCardSpinsUntilItsOwnCommandEndsAndClosingMidMountTakesTheModelsAlong)
{
    open({kData, kBackup, kStick});
    machine.runner->setAsyncDelay(std::chrono::milliseconds(80));
    const auto spinning = [&] {
        QStringList nodes;
        for (DiskRowView *row : view->rows())
            if (row->spinner()->isVisible() && row->spinner()->isAnimating())
                nodes << row->disk().deviceNode;
        return nodes;
    };
    QTest::mouseClick(view->row("disk4s1")->mountButton(), Qt::LeftButton);
    EXPECT_EQ(spinning(), QStringList({"disk4s1"}));
    QTest::qWait(100);
    QTest::mouseClick(view->row("disk6")->unmountButton(), Qt::LeftButton);
    EXPECT_EQ(spinning(), QStringList({"disk4s1", "disk6"}));
    waitForAlert();
    EXPECT_TRUE(presenter->open->message.startsWith("「Stick」")) << presenter->open->message.toStdString();
    EXPECT_EQ(spinning(), QStringList({"disk4s1"}));
    presenter->choose("OK");
    waitForAlert();
    EXPECT_TRUE(presenter->open->message.startsWith("「Data」")) << presenter->open->message.toStdString();
    EXPECT_EQ(spinning(), QStringList());
    presenter->choose("OK");

    // Closed mid-mount: the models go with the window and the rest of the mount finds no owner.
    QTest::mouseClick(view->row("disk4s1")->mountButton(), Qt::LeftButton);
    QTest::qWait(100);
    QPointer<DiskManager> manager = view->diskManager();
    view.reset();
    EXPECT_TRUE(manager.isNull());
    QTest::qWait(1300); // past the mount's settle wait, so its coroutine has ended
    EXPECT_FALSE(presenter->open);
}

TEST(DiskRowView, APaletteSwitchRecoloursTheStateWithTheNewModesNamedColour)
{
    DiskRowView row;
    row.setDisk(kData); // read-only: blue
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
