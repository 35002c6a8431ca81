// The views that follow the dependency checker: the warning panel (its details, the setup run and
// its error) and the footer (which status part wins, the uninstall command and its confirmation).
#include "ui/main_window/DependencyWarningView.h"
#include "ui/main_window/FooterView.h"

#include "RecordingPresenter.h"
#include "dependencies/DependencyChecker.h"
#include "support/ScriptedMachine.h"
#include "support/TestSupport.h"
#include "ui/toolkit/ActivitySpinner.h"
#include "ui/toolkit/ToolkitButton.h"

#include <QApplication>
#include <QTest>

#include <gtest/gtest.h>

using namespace testsupport;
using testsupport::processEventsUntil;
using Part = FooterView::StatusPart;

namespace {

struct CheckerViews : ::testing::Test {
    ScriptedMachine machine;
    std::shared_ptr<RecordingPresenter> presenter = std::make_shared<RecordingPresenter>();
    std::unique_ptr<DependencyChecker> checker;
    std::unique_ptr<DependencyWarningView> panel;
    std::unique_ptr<FooterView> footer;

    void SetUp() override { DependencyWarningView::setAnimationDuration(0); }
    void TearDown() override { DependencyWarningView::setAnimationDuration(200); }

    // The panel and the footer on a machine where the given tools are installed.
    void make(bool homebrew, bool fuseT, bool ntfs3g)
    {
        footer.reset();
        panel.reset();
        machine.setPrerequisites(homebrew, fuseT, ntfs3g);
        checker = std::make_unique<DependencyChecker>(Platform::macOS(), machine.runner, machine.files);
        panel = std::make_unique<DependencyWarningView>(checker.get());
        footer = std::make_unique<FooterView>(checker.get());
        footer->setAlertPresenter(presenter);
        for (QWidget *view : std::initializer_list<QWidget *>{panel.get(), footer.get()}) {
            view->resize(550, view->sizeHint().height());
            view->show();
        }
        QApplication::processEvents();
    }
    static bool shown(QWidget *widget) { return widget->isVisibleTo(widget->window()); }
    void toggle() { QTest::mouseClick(panel->toggleButton(), Qt::LeftButton); }
    void waitForSetupEnd() { ASSERT_TRUE(processEventsUntil([&] { return !checker->isInstalling(); })); }
    QString statuses() const
    {
        QStringList seen;
        for (StatusIndicator *indicator : panel->statusIndicators())
            seen << indicator->title() + (indicator->isOk() ? " ok" : " missing");
        return seen.join(", ");
    }
};

} // namespace

TEST_F(CheckerViews, ThePanelOpensItsDetailsOnRequestWithEachToolsStatusInOrder)
{
    make(true, false, true);
    EXPECT_FALSE(shown(panel->detailsSection()));
    toggle();
    EXPECT_TRUE(shown(panel->detailsSection()) && shown(panel->instructionsLabel()) && shown(panel->setupButton()));
    EXPECT_FALSE(shown(panel->progressBox()) || shown(panel->errorLabel()));
    EXPECT_EQ(panel->instructionsLabel()->text(), checker->setupInstructions());
    EXPECT_EQ(statuses(), "Homebrew ok, fuse-t missing, ntfs-3g-mac ok");
    machine.setPrerequisites(true, false, false);
    checker->checkDependencies();
    EXPECT_EQ(statuses(), "Homebrew ok, fuse-t missing, ntfs-3g-mac missing");
    toggle();
    EXPECT_FALSE(shown(panel->detailsSection()));
}

TEST_F(CheckerViews, ARunningSetupOpensTheDetailsByItselfAndAFailedStepShowsItsError)
{
    make(true, false, false);
    machine.runner->setAsyncDelay(std::chrono::milliseconds(60));
    checker->installDependencies(); // started while the details are closed
    ASSERT_TRUE(checker->isInstalling());
    EXPECT_TRUE(shown(panel->detailsSection()) && shown(panel->progressBox()) && shown(panel->statusIndicators().first()));
    EXPECT_FALSE(shown(panel->instructionsLabel()) || shown(panel->setupButton()));
    EXPECT_FALSE(checker->installProgressMessage().isEmpty());
    EXPECT_EQ(panel->progressLabel()->text(), checker->installProgressMessage());
    EXPECT_TRUE(panel->progressSpinner()->isAnimating());
    toggle(); // opened and closed again while it runs: the details stay
    toggle();
    EXPECT_TRUE(shown(panel->progressBox()));

    waitForSetupEnd();
    EXPECT_TRUE(machine.runner->lines().contains("/opt/homebrew/bin/brew install ntfs-3g-mac "));
    // Still incomplete (the scripted install adds no files): the details close with the run.
    EXPECT_FALSE(shown(panel->detailsSection()));
    toggle();
    EXPECT_FALSE(shown(panel->progressBox()));
    EXPECT_TRUE(shown(panel->instructionsLabel()) && shown(panel->setupButton()));

    // Run again from the button, failing: the step's two-line error in red beside the button.
    machine.runner->onPrefix("/opt/homebrew/bin/brew tap", ScriptedRunner::fail("Error: network down"));
    QTest::mouseClick(panel->setupButton(), Qt::LeftButton);
    ASSERT_TRUE(processEventsUntil([&] { return !checker->installErrorMessage().isEmpty(); }));
    waitForSetupEnd();
    TextLabel *error = panel->errorLabel();
    EXPECT_TRUE(shown(error));
    EXPECT_EQ(error->text(), "Homebrew Caskの登録に失敗したよ。\nError: network down");
    EXPECT_EQ(error->resolvedTextColor(), Toolkit::color(Toolkit::NamedColor::Red));
    EXPECT_GE(error->contentsRect().height(), 2 * error->fontMetrics().height());
    EXPECT_GT(error->geometry().left(), panel->setupButton()->geometry().right());
    toggle();
    EXPECT_FALSE(shown(error));
}

TEST_F(CheckerViews, TheFooterOffersTheUninstallOnlyWhenFuseTOrNtfs3gIsPresent)
{
    struct Case {
        bool homebrew, fuseT, ntfs3g, offered;
    };
    for (const Case c : {Case{true, false, false, false}, Case{false, false, false, false},
                         Case{false, false, true, true}, Case{false, true, false, true}}) {
        SCOPED_TRACE(testing::Message() << c.homebrew << c.fuseT << c.ntfs3g);
        make(c.homebrew, c.fuseT, c.ntfs3g);
        EXPECT_EQ(shown(footer->uninstallButton()), c.offered);
    }
}

TEST_F(CheckerViews, UninstallRunsOnlyOnceConfirmedAndTheFooterShowsErrorThenProgressThenTheNote)
{
    make(true, true, true);
    machine.runner->setAsyncDelay(std::chrono::milliseconds(60));
    EXPECT_EQ(footer->statusPart(), Part::SecurityNote);
    EXPECT_TRUE(shown(footer->securityLabel()));
    QTest::mouseClick(footer->uninstallButton(), Qt::LeftButton);
    ASSERT_TRUE(presenter->open);
    EXPECT_EQ(presenter->open->title, "依存ツールをアンインストールする？");
    EXPECT_EQ(presenter->open->message,
              "fuse-t と ntfs-3g-mac をシステムからアンインストールするよ。本当によろしいですか、お兄ちゃん？");
    using Role = Alert::Button::Role;
    QList<std::pair<QString, Role>> buttons;
    for (const Alert::Button &button : presenter->open->buttons)
        buttons.append({button.text, button.role});
    EXPECT_EQ(buttons, (QList<std::pair<QString, Role>>{{"アンインストールする", Role::Destructive}, {"キャンセル", Role::Cancel}}));
    ASSERT_TRUE(presenter->choose("キャンセル"));
    QTest::qWait(30);
    EXPECT_TRUE(machine.runner->calls().isEmpty());
    EXPECT_FALSE(checker->isUninstalling());

    footer->setLastError(QString("Failed to unmount: Volume Data is busy"));
    EXPECT_EQ(footer->statusPart(), Part::Error);
    EXPECT_EQ(footer->errorLabel()->text(), "Failed to unmount: Volume Data is busy");
    EXPECT_EQ(footer->errorLabel()->resolvedTextColor(), Toolkit::color(Toolkit::NamedColor::Red));
    EXPECT_TRUE(shown(footer->uninstallButton()));

    // Confirmed: the command goes while it runs, and the error still wins.
    QTest::mouseClick(footer->uninstallButton(), Qt::LeftButton);
    ASSERT_TRUE(presenter->choose("アンインストールする"));
    ASSERT_TRUE(processEventsUntil([&] { return checker->isUninstalling(); }));
    EXPECT_EQ(footer->statusPart(), Part::Error);
    EXPECT_FALSE(shown(footer->progressLabel()));
    EXPECT_FALSE(shown(footer->uninstallButton()));

    footer->setLastError(std::nullopt);
    EXPECT_EQ(footer->statusPart(), Part::Uninstalling);
    EXPECT_TRUE(shown(footer->progressLabel()) && footer->progressSpinner()->isAnimating());
    EXPECT_FALSE(shown(footer->securityLabel()));
    EXPECT_FALSE(checker->installProgressMessage().isEmpty());
    EXPECT_EQ(footer->progressLabel()->text(), checker->installProgressMessage());

    // The scripted uninstall removes no files: the tools are still found, so it is offered again.
    ASSERT_TRUE(processEventsUntil([&] { return !checker->isUninstalling(); }));
    EXPECT_EQ(footer->statusPart(), Part::SecurityNote);
    EXPECT_TRUE(shown(footer->uninstallButton()));
}

TEST_F(CheckerViews, WhileTheSetupOrTheUninstallRunsTheOtherCannotBeStarted)
{
    make(true, true, false); // ntfs-3g missing: the panel; fuse-t present: the uninstall command
    machine.runner->setAsyncDelay(std::chrono::milliseconds(60));
    toggle();
    ToolkitButton *setup = panel->setupButton(), *uninstall = footer->uninstallButton();
    ASSERT_TRUE(shown(setup) && setup->isEnabled() && shown(uninstall) && uninstall->isEnabled());

    QTest::mouseClick(setup, Qt::LeftButton);
    ASSERT_TRUE(processEventsUntil([&] { return checker->isInstalling(); }));
    EXPECT_TRUE(shown(uninstall));
    EXPECT_FALSE(uninstall->isEnabled());
    QTest::mouseClick(uninstall, Qt::LeftButton);
    EXPECT_FALSE(presenter->open);
    waitForSetupEnd();
    EXPECT_TRUE(uninstall->isEnabled());

    QTest::mouseClick(uninstall, Qt::LeftButton);
    ASSERT_TRUE(presenter->choose("アンインストールする"));
    ASSERT_TRUE(processEventsUntil([&] { return checker->isUninstalling(); }));
    EXPECT_TRUE(shown(setup));
    EXPECT_FALSE(setup->isEnabled());
    QTest::mouseClick(setup, Qt::LeftButton);
    QTest::qWait(30);
    EXPECT_FALSE(checker->isInstalling());
    ASSERT_TRUE(processEventsUntil([&] { return !checker->isUninstalling(); }));
    EXPECT_TRUE(setup->isEnabled());
}

TEST_F(CheckerViews, OnLinuxThePanelAndTheFooterNameLinuxTools)
{
    machine.setPrerequisites(true, true, true);
    checker = std::make_unique<DependencyChecker>(linuxProfile(), machine.runner, machine.files);
    panel = std::make_unique<DependencyWarningView>(checker.get());
    footer = std::make_unique<FooterView>(checker.get());
    footer->setAlertPresenter(presenter);
    QStringList titles;
    for (StatusIndicator *indicator : panel->statusIndicators())
        titles << indicator->title();
    EXPECT_EQ(titles, (QStringList{"パッケージマネージャー", "FUSE 3 (fuse3)", "ntfs-3g"}));
    QTest::mouseClick(footer->uninstallButton(), Qt::LeftButton);
    ASSERT_TRUE(presenter->open);
    for (const QString &text : {footer->securityLabel()->text(), presenter->open->message, checker->setupInstructions()})
        for (const char *macWord : {"Kext", "Homebrew", "fuse-t", "ntfs-3g-mac"})
            EXPECT_FALSE(text.contains(macWord)) << text.toStdString();
}
