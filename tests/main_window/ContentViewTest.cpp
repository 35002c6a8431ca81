// The main window's root view on scripted models: its sections, the refreshes, the mount and
// unmount flows with their operation marker and alerts.
#include "ui/main_window/ContentView.h"

#include "ScriptedMachine.h"
#include "dependencies/DependencyChecker.h"
#include "disks/DiskManager.h"
#include "support/TestSupport.h"
#include "ui/main_window/DependencyWarningView.h"
#include "ui/main_window/DiskRowView.h"
#include "ui/main_window/EmptyDisksView.h"
#include "ui/main_window/FooterView.h"
#include "ui/main_window/HeaderView.h"

#include <QApplication>
#include <QScrollArea>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

using namespace mainwindow;
using Kind = ScriptedRunner::Kind;

namespace {

const NTFSDisk kData{"disk4s1", "Data", 1000204886016, QString("/Volumes/Data"), false, "ntfs"};
const NTFSDisk kBackup{"disk4s3", "Backup", 500000000000, std::nullopt, false, "ntfs"};
const NTFSDisk kStick{"disk6", "Stick", 32017047552, QString("/Volumes/Stick"), true, "ntfs"};

struct WindowFixture : ::testing::Test {
    ScriptedMachine machine;
    std::shared_ptr<RecordingPresenter> presenter = std::make_shared<RecordingPresenter>();
    std::unique_ptr<ContentView> view;

    void SetUp() override { DependencyWarningView::setAnimationDuration(0); }
    void TearDown() override
    {
        view.reset();
        DependencyWarningView::setAnimationDuration(200);
    }

    // Opens the window on a machine with `disks` and waits for the first scan to finish.
    void open(const QList<NTFSDisk> &disks, bool homebrew = true, bool fuseT = true, bool ntfs3g = true)
    {
        machine.setDisks(disks);
        machine.setPrerequisites(homebrew, fuseT, ntfs3g);
        view = std::make_unique<ContentView>(machine.environment());
        view->setAlertPresenter(presenter);
        view->resize(550, 400);
        view->show();
        ASSERT_TRUE(testsupport::processEventsUntil([&] {
            return machine.runner->lines().contains("/sbin/mount ") && !view->diskManager()->isScanning();
        }));
        QApplication::processEvents();
        ASSERT_EQ(view->rows().size(), disks.size());
    }
    void waitForAlert()
    {
        ASSERT_TRUE(testsupport::processEventsUntil([&] { return presenter->open.has_value(); }));
    }
    QStringList sectionTypes() const
    {
        QStringList types;
        for (QWidget *section : view->sections()) {
            if (qobject_cast<HeaderView *>(section))
                types << "header";
            else if (qobject_cast<Divider *>(section))
                types << "divider";
            else if (qobject_cast<DependencyWarningView *>(section))
                types << "panel";
            else if (qobject_cast<FooterView *>(section))
                types << "footer";
            else if (section->isAncestorOf(view->emptyView()))
                types << "content";
            else
                types << "?";
        }
        return types;
    }
};

} // namespace

TEST_F(WindowFixture, WithoutDisksThePlaceholderSitsBetweenTheDividersAndTheWindowKeepsItsMinimum)
{
    open({});
    EXPECT_EQ(sectionTypes(), QStringList({"header", "divider", "content", "divider", "footer"}));
    for (QWidget *section : view->sections()) {
        if (auto *divider = qobject_cast<Divider *>(section)) {
            EXPECT_EQ(divider->color().resolve(), Toolkit::color(Toolkit::NamedColor::White, 0.1));
        }
    }
    EXPECT_TRUE(view->emptyView()->isVisible());
    EXPECT_FALSE(view->diskList()->isVisible());

    view->resize(300, 200);
    QApplication::processEvents();
    EXPECT_GE(view->width(), 550);
    EXPECT_GE(view->height(), 400);
}

TEST_F(WindowFixture, ThePanelStandsBelowTheFirstDividerOnlyWhileFuseTOrNtfs3gIsMissing)
{
    open({kData}, false, true, true);
    EXPECT_EQ(view->warningView(), nullptr);
    EXPECT_TRUE(view->row("disk4s1")->mountButton()->isEnabled());

    machine.setPrerequisites(true, false, true);
    QTest::mouseClick(view->headerView()->refreshButton(), Qt::LeftButton);
    ASSERT_NE(view->warningView(), nullptr);
    EXPECT_EQ(sectionTypes(), QStringList({"header", "divider", "panel", "content", "divider", "footer"}));
    EXPECT_FALSE(view->row("disk4s1")->mountButton()->isEnabled());
    view->warningView()->setExpanded(true);

    // Removed once complete; a panel that comes back starts collapsed.
    ASSERT_TRUE(testsupport::processEventsUntil([&] { return !view->diskManager()->isScanning(); }));
    machine.setPrerequisites(false, true, true);
    view->fullRefresh();
    EXPECT_EQ(view->warningView(), nullptr);
    EXPECT_EQ(sectionTypes(), QStringList({"header", "divider", "content", "divider", "footer"}));
    machine.setPrerequisites(false, true, false);
    view->fullRefresh();
    ASSERT_NE(view->warningView(), nullptr);
    EXPECT_FALSE(view->warningView()->isExpanded());
}

TEST_F(WindowFixture, MountAndUnmountReportTheirOutcomeInAnAlertWithOneOkButton)
{
    open({kData});
    QTest::mouseClick(view->row("disk4s1")->mountButton(), Qt::LeftButton);
    EXPECT_TRUE(view->isOperating());
    EXPECT_EQ(view->operatingDiskNode(), "disk4s1");
    waitForAlert();
    EXPECT_TRUE(machine.runner->lines().contains(
        "\"/opt/homebrew/bin/ntfs-3g\" /dev/disk4s1 \"/Volumes/Data\" -o local,allow_other,auto_xattr,backend=fskit"));
    EXPECT_EQ(presenter->open->title, "おめちゃん！");
    EXPECT_EQ(presenter->open->message, "「Data」を書き込み可能でマウントしたよ、お兄ちゃん！");
    EXPECT_EQ(presenter->buttonTexts(), QStringList({"OK"}));
    EXPECT_EQ(presenter->open->buttons.first().role, Alert::Button::Role::Default);
    EXPECT_TRUE(view->showAlert());
    EXPECT_FALSE(view->isOperating());
    EXPECT_EQ(view->operatingDiskNode(), "");

    ASSERT_TRUE(presenter->choose("OK"));
    EXPECT_FALSE(view->showAlert());
    EXPECT_EQ(view->alertTitle(), "おめちゃん！"); // kept until the next outcome

    view->unmountDisk(kData);
    waitForAlert();
    EXPECT_EQ(presenter->open->title, "おめちゃん！");
    EXPECT_EQ(presenter->open->message, "「Data」を安全に取り外したよ！");

    presenter->choose("OK");
    NTFSDisk unnamed = kBackup;
    unnamed.volumeName = "";
    view->unmountDisk(unnamed);
    waitForAlert();
    EXPECT_EQ(presenter->open->message, "「」を安全に取り外したよ！");
}

TEST_F(WindowFixture, MountWithoutNtfs3gPathAlertsAndStartsNothing)
{
    open({kData, kBackup}, true, true, false);
    machine.runner->clearCalls();
    view->mountDisk(kData);
    ASSERT_TRUE(presenter->open.has_value());
    EXPECT_EQ(presenter->open->title, "エラーが発生したよ");
    EXPECT_EQ(presenter->open->message, "ntfs-3gのパスが見つかりません。");
    EXPECT_FALSE(view->isOperating());
    QTest::qWait(30);
    for (DiskRowView *row : view->rows())
        EXPECT_FALSE(row->isOperating());
    EXPECT_TRUE(machine.runner->calls().isEmpty());
}

TEST_F(WindowFixture, OnlyTheRowOfTheRunningOperationSpinsAndTheLastStartOwnsTheMarker)
{
    open({kData, kBackup, kStick});
    machine.runner->setAsyncDelay(std::chrono::milliseconds(80));
    QTest::mouseClick(view->row("disk4s1")->mountButton(), Qt::LeftButton);
    EXPECT_TRUE(view->row("disk4s1")->isOperating());
    EXPECT_TRUE(view->row("disk4s1")->spinner()->isAnimating());
    EXPECT_FALSE(view->row("disk4s3")->isOperating());
    EXPECT_TRUE(view->row("disk4s3")->mountButton()->isVisible());
    EXPECT_TRUE(view->row("disk6")->unmountButton()->isVisible());

    // The window keeps working while the mount's commands run.
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(10);
    QTest::qWait(100);
    EXPECT_GE(ticks, 3);
    EXPECT_TRUE(view->isOperating());

    // A second start takes the marker over; the first completion clears it.
    QTest::mouseClick(view->row("disk6")->unmountButton(), Qt::LeftButton);
    EXPECT_EQ(view->operatingDiskNode(), "disk6");
    EXPECT_FALSE(view->row("disk4s1")->isOperating());
    EXPECT_TRUE(view->row("disk6")->isOperating());
    waitForAlert();
    EXPECT_FALSE(view->isOperating());
    for (DiskRowView *row : view->rows())
        EXPECT_FALSE(row->isOperating());
    presenter->choose("OK");
    ASSERT_TRUE(testsupport::processEventsUntil([&] { return presenter->presented.size() == 2; }));
}

TEST_F(WindowFixture, AFailedUnmountShowsTheErrorDescriptionAndClearsTheMarker)
{
    open({kStick});
    machine.runner->on("/usr/sbin/diskutil unmount /dev/disk6", ScriptedRunner::fail("Volume Stick on disk6 failed to unmount: busy"));
    QTest::mouseClick(view->row("disk6")->unmountButton(), Qt::LeftButton);
    EXPECT_TRUE(view->row("disk6")->isOperating());
    waitForAlert();
    EXPECT_EQ(presenter->open->title, "エラーが発生したよ");
    EXPECT_EQ(presenter->open->message, "Failed to unmount: Volume Stick on disk6 failed to unmount: busy");
    EXPECT_FALSE(view->isOperating());
    EXPECT_FALSE(view->row("disk6")->isOperating());
    EXPECT_TRUE(view->row("disk6")->unmountButton()->isVisible());
}

TEST_F(WindowFixture, HeaderAndShowingChecksBeforeScanningAndThePlaceholderOnlyRescans)
{
    open({});
    QStringList events;
    QObject::connect(view->depChecker(), &DependencyChecker::statusChanged, view.get(), [&] { events << "check"; });
    QObject::connect(view->diskManager(), &DiskManager::isScanningChanged, view.get(), [&] {
        if (view->diskManager()->isScanning())
            events << "scan";
    });

    QTest::mouseClick(view->headerView()->refreshButton(), Qt::LeftButton);
    ASSERT_TRUE(testsupport::processEventsUntil([&] { return events.size() == 2 && !view->diskManager()->isScanning(); }));
    EXPECT_EQ(events, QStringList({"check", "scan"}));

    events.clear();
    QTest::mouseClick(view->emptyView()->refreshButton(), Qt::LeftButton);
    ASSERT_TRUE(testsupport::processEventsUntil([&] { return !events.isEmpty() && !view->diskManager()->isScanning(); }));
    QTest::qWait(20);
    EXPECT_EQ(events, QStringList({"scan"}));

    // Shown again: the full refresh once more.
    events.clear();
    view->hide();
    view->show();
    ASSERT_TRUE(testsupport::processEventsUntil([&] { return events.size() == 2 && !view->diskManager()->isScanning(); }));
    EXPECT_EQ(events, QStringList({"check", "scan"}));
}

TEST_F(WindowFixture, ClosingTheWindowDuringAMountTakesTheModelsAlong)
{
    open({kData});
    machine.runner->setAsyncDelay(std::chrono::milliseconds(50));
    QTest::mouseClick(view->row("disk4s1")->mountButton(), Qt::LeftButton);
    QTest::qWait(70);
    QPointer<DiskManager> manager = view->diskManager();
    QPointer<DependencyChecker> checker = view->depChecker();
    view.reset();
    EXPECT_TRUE(manager.isNull());
    EXPECT_TRUE(checker.isNull());
    QTest::qWait(1300); // the rest of the mount finds its owner gone
    EXPECT_TRUE(presenter->presented.isEmpty());
}

TEST_F(WindowFixture, NothingIsPushedOutOfTheMinimumWindowAndAnExpandedPanelMakesItTaller)
{
    // Hosted the way the application hosts it: inside a window's layout.
    NTFSDisk longName = kData;
    longName.volumeName = QString("とても長い名前のボリューム").repeated(6);
    machine.setDisks({longName, kBackup, kStick});
    machine.setPrerequisites(true, false, false);
    QWidget window;
    auto *layout = new QVBoxLayout(&window);
    layout->setContentsMargins(0, 0, 0, 0);
    auto *content = new ContentView(machine.environment());
    content->setAlertPresenter(presenter);
    layout->addWidget(content);
    window.resize(550, 400);
    window.show();
    ASSERT_TRUE(testsupport::processEventsUntil([&] { return content->rows().size() == 3; }));
    content->footerView()->setLastError(QString("Mount failed: ") + QString("x").repeated(400));
    content->warningView()->setExpanded(true);
    QApplication::processEvents();
    QApplication::processEvents();

    EXPECT_EQ(window.width(), 550);
    EXPECT_GT(window.height(), 400);
    auto rightEdge = [&](QWidget *widget) { return widget->mapTo(content, QPoint(widget->width(), 0)).x(); };
    for (DiskRowView *row : content->rows()) {
        EXPECT_LE(rightEdge(row), 550 - 16);
        QWidget *control = row->mountButton()->isVisible() ? row->mountButton() : row->unmountButton();
        EXPECT_LE(rightEdge(control), rightEdge(row) - 12);
    }
    EXPECT_TRUE(content->rows().first()->nameLabel()->isElided());
    EXPECT_LE(rightEdge(content->footerView()->versionLabel()), 550 - 16);
    EXPECT_LE(rightEdge(content->headerView()->refreshButton()), 550 - 16);
    // The wrapped instructions get all their lines, and the list still has room for one card.
    TextLabel *instructions = content->warningView()->instructionsLabel();
    EXPECT_GE(instructions->height(), instructions->heightForWidth(instructions->width()));
    EXPECT_GE(content->diskList()->viewport()->height(), content->rows().first()->parentWidget()->sizeHint().height());
}
