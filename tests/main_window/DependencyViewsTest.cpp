// The dependency warning panel: what the details show when, the setup run, its error, and the
// status row.
#include "ui/main_window/DependencyWarningView.h"

#include "ScriptedMachine.h"
#include "dependencies/DependencyChecker.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QTest>

#include <gtest/gtest.h>

using namespace mainwindow;
using Toolkit::NamedColor;

namespace {

struct PanelFixture : ::testing::Test {
    ScriptedMachine machine;
    std::unique_ptr<DependencyChecker> checker;
    std::unique_ptr<DependencyWarningView> panel;

    void SetUp() override { DependencyWarningView::setAnimationDuration(0); }
    void TearDown() override { DependencyWarningView::setAnimationDuration(200); }

    void make(bool homebrew, bool fuseT, bool ntfs3g)
    {
        machine.setPrerequisites(homebrew, fuseT, ntfs3g);
        checker = std::make_unique<DependencyChecker>(Platform::macOS(), machine.runner, machine.files);
        panel = std::make_unique<DependencyWarningView>(checker.get());
        panel->resize(550, panel->sizeHint().height());
        panel->show();
    }
    void toggle() { QTest::mouseClick(panel->toggleButton(), Qt::LeftButton); }
    void startSetupAndWait()
    {
        QTest::mouseClick(panel->setupButton(), Qt::LeftButton);
        ASSERT_TRUE(testsupport::processEventsUntil([&] { return checker->isInstalling(); }));
    }
    void waitForSetupEnd()
    {
        ASSERT_TRUE(testsupport::processEventsUntil([&] { return !checker->isInstalling(); }));
    }
    bool shown(QWidget *widget) const { return widget->isVisibleTo(panel.get()); }
};

} // namespace

TEST_F(PanelFixture, AFreshPanelShowsOnlyItsHeaderLineUntilExpanded)
{
    make(false, false, false);
    EXPECT_EQ(panel->toggleButton()->text(), "セットアップ方法を表示");
    EXPECT_EQ(panel->toggleButton()->style(), ToolkitButton::Style::Link);
    EXPECT_FALSE(shown(panel->detailsSection()));
    EXPECT_FALSE(shown(panel->setupButton()));
    const auto headline = panel->findChildren<QLabel *>();
    EXPECT_TRUE(std::any_of(headline.begin(), headline.end(),
                            [](QLabel *l) { return l->text() == "動作に必要な依存ツールが足りないよ！"; }));

    toggle();
    EXPECT_EQ(panel->toggleButton()->text(), "詳細を閉じる");
    EXPECT_TRUE(shown(panel->detailsSection()));
    EXPECT_TRUE(shown(panel->setupButton()));
    EXPECT_EQ(panel->setupButton()->text(), "依存ツールを自動セットアップ");
    EXPECT_FALSE(shown(panel->progressBox()));
    EXPECT_FALSE(shown(panel->errorLabel()));
    EXPECT_EQ(panel->instructionsLabel()->text(), checker->setupInstructions());
    EXPECT_TRUE(panel->instructionsLabel()->textInteractionFlags().testFlag(Qt::TextSelectableByMouse));

    toggle();
    EXPECT_EQ(panel->toggleButton()->text(), "セットアップ方法を表示");
    EXPECT_FALSE(shown(panel->detailsSection()));
}

TEST_F(PanelFixture, SetupReplacesInstructionsWithProgressEvenWhenClosedAndComesBackWhenItEnds)
{
    make(true, false, false);
    machine.runner->setAsyncDelay(std::chrono::milliseconds(60));
    toggle();

    // What the panel showed when the first progress text arrived.
    struct Seen {
        QString text;
        bool progress, instructions, setupButton, status;
    };
    QList<Seen> seen;
    QObject::connect(checker.get(), &DependencyChecker::installProgressMessageChanged, panel.get(), [&] {
        seen.append({panel->progressLabel()->text(), shown(panel->progressBox()), shown(panel->instructionsLabel()),
                      shown(panel->setupButton()), shown(panel->statusIndicators().first())});
    });
    startSetupAndWait();
    ASSERT_FALSE(seen.isEmpty());
    EXPECT_EQ(seen.first().text, "セットアップを開始するよ...");
    EXPECT_TRUE(seen.first().progress);
    EXPECT_FALSE(seen.first().instructions);
    EXPECT_FALSE(seen.first().setupButton);
    EXPECT_TRUE(seen.first().status);
    EXPECT_TRUE(panel->progressSpinner()->isAnimating());

    // Closing the details while it runs changes the button only.
    toggle();
    EXPECT_EQ(panel->toggleButton()->text(), "セットアップ方法を表示");
    EXPECT_TRUE(shown(panel->progressBox()));

    waitForSetupEnd();
    EXPECT_TRUE(machine.runner->lines().contains("/opt/homebrew/bin/brew install ntfs-3g-mac "));
    // Still incomplete (the scripted install adds no files): the panel stays, now collapsed.
    EXPECT_FALSE(shown(panel->detailsSection()));
    toggle();
    EXPECT_FALSE(shown(panel->progressBox()));
    EXPECT_TRUE(shown(panel->instructionsLabel()));
    EXPECT_TRUE(shown(panel->setupButton()));
}

TEST_F(PanelFixture, AFailedStepShowsItsTwoLineErrorInRedBesideTheButtonWhileExpanded)
{
    make(true, false, false);
    machine.runner->onPrefix("/opt/homebrew/bin/brew tap", ScriptedRunner::fail("Error: network down"));
    toggle();
    QTest::mouseClick(panel->setupButton(), Qt::LeftButton);
    ASSERT_TRUE(testsupport::processEventsUntil([&] { return !checker->installErrorMessage().isEmpty(); }));
    waitForSetupEnd();

    const QString expected = "Homebrew Caskの登録に失敗したよ。\nError: network down";
    ASSERT_EQ(checker->installErrorMessage(), expected);
    TextLabel *error = panel->errorLabel();
    EXPECT_TRUE(shown(error));
    EXPECT_EQ(error->text(), expected);
    EXPECT_EQ(error->resolvedTextColor(), Toolkit::color(NamedColor::Red));
    EXPECT_GE(error->contentsRect().height(), 2 * error->fontMetrics().height());
    EXPECT_GT(error->geometry().left(), panel->setupButton()->geometry().right());

    toggle();
    EXPECT_FALSE(shown(error));
}

TEST_F(PanelFixture, StatusRowShowsEachToolInOrder)
{
    make(true, false, true);
    toggle();
    QStringList seen;
    for (StatusIndicator *indicator : panel->statusIndicators())
        seen << indicator->title() + (indicator->isOk() ? " ok" : " missing");
    EXPECT_EQ(seen, QStringList({"Homebrew ok", "fuse-t missing", "ntfs-3g-mac ok"}));
    StatusIndicator *homebrew = panel->statusIndicators().at(0), *fuseT = panel->statusIndicators().at(1);
    EXPECT_EQ(homebrew->symbol()->symbolName(), "checkmark.circle.fill");
    EXPECT_EQ(homebrew->symbol()->tint()->resolve(), Toolkit::color(NamedColor::Green));
    EXPECT_EQ(fuseT->symbol()->symbolName(), "xmark.circle.fill");
    EXPECT_EQ(fuseT->symbol()->tint()->resolve(), Toolkit::color(NamedColor::Red));

    machine.setPrerequisites(true, false, false);
    checker->checkDependencies();
    EXPECT_FALSE(panel->statusIndicators().at(2)->isOk());
}
