// The footer: which status part wins, when the uninstall command is offered, and its alert.
#include "ui/main_window/FooterView.h"

#include "ScriptedMachine.h"
#include "dependencies/DependencyChecker.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QTest>

#include <gtest/gtest.h>

using namespace mainwindow;
using Toolkit::NamedColor;
using Part = FooterView::StatusPart;

namespace {

struct FooterFixture : ::testing::Test {
    ScriptedMachine machine;
    std::shared_ptr<RecordingPresenter> presenter = std::make_shared<RecordingPresenter>();
    std::unique_ptr<DependencyChecker> checker;
    std::unique_ptr<FooterView> footer;

    void make(bool homebrew, bool fuseT, bool ntfs3g)
    {
        machine.setPrerequisites(homebrew, fuseT, ntfs3g);
        checker = std::make_unique<DependencyChecker>(Platform::macOS(), machine.runner, machine.files);
        footer = std::make_unique<FooterView>(checker.get());
        footer->setAlertPresenter(presenter);
        footer->resize(550, footer->sizeHint().height());
        footer->show();
        QApplication::processEvents();
    }
    bool commandShown() const { return footer->uninstallButton()->isVisibleTo(footer.get()); }
    int x(QWidget *widget) const { return widget->mapTo(footer.get(), QPoint(0, 0)).x(); }
    void confirmUninstall()
    {
        QTest::mouseClick(footer->uninstallButton(), Qt::LeftButton);
        ASSERT_TRUE(presenter->choose("アンインストールする"));
        ASSERT_TRUE(testsupport::processEventsUntil([&] { return checker->isUninstalling(); }));
    }
};

} // namespace

TEST_F(FooterFixture, WithoutErrorOrUninstallItReadsNoteCommandVersionFromLeftToRight)
{
    make(false, true, false);
    EXPECT_EQ(footer->statusPart(), Part::SecurityNote);
    EXPECT_TRUE(footer->securityLabel()->isVisible());
    EXPECT_EQ(footer->securityLabel()->text(), "セキュリティ設定：デフォルト対応 (Kext不要)");
    EXPECT_FALSE(footer->securityLabel()->isElided());
    EXPECT_TRUE(commandShown());
    EXPECT_EQ(footer->uninstallButton()->text(), "依存ツールのアンインストール");
    EXPECT_EQ(footer->uninstallButton()->titleLabel()->resolvedTextColor(), Toolkit::color(NamedColor::Red));
    EXPECT_EQ(footer->versionLabel()->text(), "v1.0.0");
    EXPECT_EQ(footer->versionLabel()->resolvedTextColor(), Toolkit::color(NamedColor::Secondary, 0.5));
    EXPECT_LT(x(footer->securityLabel()), x(footer->uninstallButton()));
    EXPECT_LT(x(footer->uninstallButton()), x(footer->versionLabel()));
    // The command's trailing space goes before the version label.
    EXPECT_GE(x(footer->versionLabel()) - (x(footer->uninstallButton()) + footer->uninstallButton()->width()), 8);
}

TEST_F(FooterFixture, UninstallIsOfferedOnlyWhenFuseTOrNtfs3gIsPresent)
{
    struct Case {
        bool homebrew, fuseT, ntfs3g, offered;
    };
    for (const Case c : {Case{true, false, false, false}, Case{false, false, false, false},
                         Case{false, false, true, true}, Case{false, true, false, true}}) {
        SCOPED_TRACE(testing::Message() << c.homebrew << c.fuseT << c.ntfs3g);
        make(c.homebrew, c.fuseT, c.ntfs3g);
        EXPECT_EQ(commandShown(), c.offered);
        EXPECT_TRUE(footer->versionLabel()->isVisible());
    }
}

TEST_F(FooterFixture, CancellingTheConfirmationRunsNothing)
{
    make(true, true, true);
    QTest::mouseClick(footer->uninstallButton(), Qt::LeftButton);
    ASSERT_TRUE(presenter->open);
    EXPECT_TRUE(footer->showUninstallAlert());
    EXPECT_EQ(presenter->open->title, "依存ツールをアンインストールする？");
    EXPECT_EQ(presenter->open->message,
              "fuse-t と ntfs-3g-mac をシステムからアンインストールするよ。本当によろしいですか、お兄ちゃん？");
    ASSERT_EQ(presenter->open->buttons.size(), 2);
    EXPECT_EQ(presenter->open->buttons.at(0).text, "アンインストールする");
    EXPECT_EQ(presenter->open->buttons.at(0).role, Alert::Button::Role::Destructive);
    EXPECT_EQ(presenter->open->buttons.at(1).text, "キャンセル");
    EXPECT_EQ(presenter->open->buttons.at(1).role, Alert::Button::Role::Cancel);

    ASSERT_TRUE(presenter->choose("キャンセル"));
    EXPECT_FALSE(footer->showUninstallAlert());
    QTest::qWait(30);
    EXPECT_TRUE(machine.runner->calls().isEmpty());
    EXPECT_FALSE(checker->isUninstalling());
    EXPECT_TRUE(commandShown());
}

TEST_F(FooterFixture, ConfirmingHidesTheCommandAndShowsTheUninstallProgress)
{
    make(true, true, true);
    machine.runner->setAsyncDelay(std::chrono::milliseconds(60));
    QList<std::pair<QString, bool>> seen; // progress text shown, command shown
    QObject::connect(checker.get(), &DependencyChecker::installProgressMessageChanged, footer.get(),
                     [&] { seen.append({footer->progressLabel()->text(), commandShown()}); });
    confirmUninstall();
    EXPECT_FALSE(footer->showUninstallAlert());
    ASSERT_FALSE(seen.isEmpty());
    EXPECT_EQ(seen.first(), std::make_pair(QString("アンインストールを開始するよ..."), false));
    EXPECT_EQ(footer->statusPart(), Part::Uninstalling);
    EXPECT_TRUE(footer->progressSpinner()->isAnimating());
    EXPECT_FALSE(footer->securityLabel()->isVisible());

    ASSERT_TRUE(testsupport::processEventsUntil([&] { return !checker->isUninstalling(); }));
    // The scripted uninstall removes no files: the tools are still found, so it is offered again.
    EXPECT_EQ(footer->statusPart(), Part::SecurityNote);
    EXPECT_TRUE(commandShown());
}

TEST_F(FooterFixture, ADiskErrorWinsTheStatusPartButNotTheCommand)
{
    make(true, true, true);
    machine.runner->setAsyncDelay(std::chrono::milliseconds(60));
    footer->setLastError(QString("Failed to unmount: Volume Data is busy"));
    EXPECT_EQ(footer->statusPart(), Part::Error);
    EXPECT_EQ(footer->errorLabel()->text(), "Failed to unmount: Volume Data is busy");
    EXPECT_EQ(footer->errorLabel()->resolvedTextColor(), Toolkit::color(NamedColor::Red));
    EXPECT_TRUE(commandShown());

    confirmUninstall();
    EXPECT_EQ(footer->statusPart(), Part::Error);
    EXPECT_FALSE(footer->progressLabel()->isVisible());
    EXPECT_FALSE(commandShown());

    footer->setLastError(std::nullopt);
    EXPECT_EQ(footer->statusPart(), Part::Uninstalling);
    EXPECT_TRUE(footer->progressLabel()->isVisible());
    ASSERT_TRUE(testsupport::processEventsUntil([&] { return !checker->isUninstalling(); }));
}

TEST_F(FooterFixture, AVeryLongErrorIsCutToOneLine)
{
    make(false, false, false);
    const int height = footer->height();
    const QString error = "Failed to unmount: " + QString("資源がビジー状態です ").repeated(20) + "\nsecond line";
    footer->setLastError(error);
    QApplication::processEvents();
    ElidedLabel *label = footer->errorLabel();
    EXPECT_TRUE(label->isElided());
    EXPECT_FALSE(label->displayedText().contains('\n'));
    EXPECT_EQ(label->height(), label->fontMetrics().height());
    EXPECT_EQ(footer->sizeHint().height(), height);
    EXPECT_LE(footer->minimumSizeHint().width(), 550);
    EXPECT_LE(label->mapTo(footer.get(), QPoint(label->width(), 0)).x(), x(footer->versionLabel()));
}
