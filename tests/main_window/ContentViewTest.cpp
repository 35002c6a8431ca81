// The main window's root view on scripted models: its sections and minimum size, the refreshes,
// the mount and unmount flows with each disk's operation marker and their alerts.
#include "ui/main_window/ContentView.h"

#include "RecordingPresenter.h"
#include "dependencies/DependencyChecker.h"
#include "disks/DiskManager.h"
#include "disks/FailureAdvice.h"
#include "support/ScriptedMachine.h"
#include "support/TestSupport.h"
#include "ui/main_window/DependencyWarningView.h"
#include "ui/main_window/DiskRowView.h"
#include "ui/main_window/EmptyDisksView.h"
#include "ui/main_window/FooterView.h"
#include "ui/main_window/HeaderView.h"
#include "ui/toolkit/ActivitySpinner.h"
#include "ui/toolkit/ToolkitButton.h"

#include <QApplication>
#include <QScrollArea>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

using namespace testsupport;
using testsupport::processEventsUntil;

namespace {

const NTFSDisk kData{"disk4s1", "Data", 1000204886016, QString("/Volumes/Data"), false, "ntfs"};
const NTFSDisk kBackup{"disk4s3", "Backup", 500000000000, std::nullopt, false, "ntfs"};
const NTFSDisk kStick{"disk6", "Stick", 32017047552, QString("/Volumes/Stick"), true, "ntfs"};
const QString kDone = "おめちゃん！", kError = "エラーが発生したよ";

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
    void open(const QList<NTFSDisk> &disks, bool ntfs3g = true)
    {
        machine.setDisks(disks);
        machine.setPrerequisites(true, true, ntfs3g);
        view = std::make_unique<ContentView>(machine.environment());
        view->setAlertPresenter(presenter);
        view->resize(550, 400);
        view->show();
        ASSERT_TRUE(processEventsUntil([&] { return machine.runner->lines().contains("/sbin/mount ") && idle(); }));
        ASSERT_EQ(view->rows().size(), disks.size());
    }
    bool idle() const { return !view->diskManager()->isScanning(); }
    void waitForAlert() { ASSERT_TRUE(processEventsUntil([&] { return presenter->open.has_value(); })); }
};

} // namespace

TEST_F(WindowFixture, EachRefreshRechecksThePanelWhichStandsBelowTheFirstDividerWhileFuseTOrNtfs3gIsMissing)
{
    open({kData});
    view->resize(300, 200);
    EXPECT_GE(view->width(), 550);
    EXPECT_GE(view->height(), 400);

    int scans = 0;
    QObject::connect(view->diskManager(), &DiskManager::isScanningChanged, view.get(), [&] { scans += idle() ? 0 : 1; });
    const std::function<void()> header = [&] { QTest::mouseClick(view->headerView()->refreshButton(), Qt::LeftButton); };
    const std::function<void()> reshow = [&] { view->hide(), view->show(); };
    struct Case {
        bool homebrew, fuseT, ntfs3g, panel;
        std::function<void()> refresh;
    };
    // The panel goes once complete; one that comes back starts collapsed.
    const std::function<void()> full = [&] { view->fullRefresh(); };
    for (const Case &c : {Case{true, false, true, true, header}, Case{false, true, true, false, reshow},
                          Case{true, true, false, true, full}, Case{true, true, true, false, header}}) {
        SCOPED_TRACE(testing::Message() << c.homebrew << c.fuseT << c.ntfs3g);
        machine.setPrerequisites(c.homebrew, c.fuseT, c.ntfs3g);
        const int before = scans;
        c.refresh(); // the prerequisites at once, the disks from the event loop
        ASSERT_TRUE(processEventsUntil([&] { return scans > before && idle(); }));
        EXPECT_EQ(view->sections().size(), c.panel ? 6 : 5); // header, divider, [panel,] content, divider, footer
        EXPECT_EQ(view->sections().indexOf(view->warningView()), c.panel ? 2 : -1);
        EXPECT_EQ(view->row("disk4s1")->mountButton()->isEnabled(), !c.panel);
        if (c.panel) {
            EXPECT_FALSE(view->warningView()->isExpanded());
            view->warningView()->setExpanded(true);
        }
    }
}

TEST_F(WindowFixture, EachOutcomeIsReportedInAnAlertWithOneOkButton)
{
    open({kData, kStick});
    machine.runner->on("/usr/sbin/diskutil unmount /dev/disk6",
                       ScriptedRunner::fail("Volume Stick on disk6 failed to unmount: dissented"));
    NTFSDisk unnamed = kBackup;
    unnamed.volumeName = "";
    struct Case {
        std::function<void()> start;
        QString title, message;
    };
    const Case cases[] = {
        {[&] { QTest::mouseClick(view->row("disk4s1")->mountButton(), Qt::LeftButton); }, kDone,
         "「Data」を書き込み可能でマウントしたよ、お兄ちゃん！"},
        {[&] { view->unmountDisk(kData); }, kDone, "「Data」を安全に取り外したよ！"},
        {[&] { view->unmountDisk(unnamed); }, kDone, "「」を安全に取り外したよ！"},
        // The error's description goes into the message unchanged.
        {[&] { QTest::mouseClick(view->row("disk6")->unmountButton(), Qt::LeftButton); }, kError,
         "Failed to unmount: Volume Stick on disk6 failed to unmount: dissented"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.message.toStdString());
        c.start();
        waitForAlert();
        EXPECT_EQ(presenter->open->title, c.title);
        EXPECT_EQ(presenter->open->message, c.message);
        ASSERT_EQ(presenter->open->buttons.size(), 1);
        EXPECT_EQ(presenter->open->buttons.first().role, Alert::Button::Role::Default);
        EXPECT_FALSE(view->isOperating());
        ASSERT_TRUE(presenter->choose("OK"));
    }
    EXPECT_TRUE(machine.runner->lines().contains(
        "\"/opt/homebrew/bin/ntfs-3g\" /dev/disk4s1 \"/Volumes/Data\" -o local,allow_other,auto_xattr,backend=fskit"));
    EXPECT_TRUE(view->row("disk6")->unmountButton()->isVisible());
}

// ntfs-3g came up read-only on a hibernated volume: the alert explains, and its second button
// mounts read-only, the card spinning meanwhile.
TEST_F(WindowFixture, AFailureOfferingTheReadOnlyMountHasItAsTheOtherButton)
{
    open({kData});
    machine.files->readOnlyMounts.insert("/Volumes/Data");
    machine.runner->on("\"/opt/homebrew/bin/ntfs-3g\" /dev/disk4s1 \"/Volumes/Data\" -o local,allow_other,auto_xattr,backend=fskit",
                       ScriptedRunner::ok("Windows is hibernated, mounted as read-only."));
    view->mountDisk(kData);
    waitForAlert();
    EXPECT_EQ(presenter->open->title, kError);
    EXPECT_EQ(presenter->open->message,
              "Mount failed: Windows is hibernated, mounted as read-only.\n\n"
                  + FailureAdvice::offerReadOnly({}, FailureAdvice::ReadOnlyCause::Hibernated).explanation);
    ASSERT_EQ(presenter->open->buttons.size(), 2);
    EXPECT_EQ(presenter->open->buttons[0].role, Alert::Button::Role::Default);
    EXPECT_EQ(presenter->open->buttons[1].role, Alert::Button::Role::Other);
    ASSERT_TRUE(presenter->choose("読み取り専用でマウント"));
    EXPECT_TRUE(view->row("disk4s1")->isOperating());
    waitForAlert();
    EXPECT_EQ(presenter->open->title, kDone);
    EXPECT_EQ(presenter->open->message, "「Data」を読み取り専用でマウントしたよ。");
    EXPECT_EQ(presenter->open->buttons.size(), 1);
    EXPECT_FALSE(view->isOperating());
    EXPECT_TRUE(machine.runner->lines().contains(
        "\"/opt/homebrew/bin/ntfs-3g\" /dev/disk4s1 \"/Volumes/Data\" -o ro,local,allow_other,auto_xattr,backend=fskit"));
}

TEST_F(WindowFixture, MountWithoutAnNtfs3gPathAlertsAndStartsNothing)
{
    open({kData}, false);
    machine.runner->clearCalls();
    view->mountDisk(kData);
    ASSERT_TRUE(presenter->open.has_value());
    EXPECT_EQ(presenter->open->title, kError);
    EXPECT_EQ(presenter->open->message, "ntfs-3gのパスが見つかりません。");
    QTest::qWait(30);
    EXPECT_FALSE(view->isOperating());
    EXPECT_FALSE(view->row("disk4s1")->isOperating());
    EXPECT_TRUE(machine.runner->calls().isEmpty());
}

TEST_F(WindowFixture, EachCardSpinsUntilItsOwnCommandEndsAndClosingTakesTheModelsAlong)
{
    open({kData, kBackup, kStick});
    machine.runner->setAsyncDelay(std::chrono::milliseconds(80));
    auto spinning = [&] {
        QStringList nodes;
        for (DiskRowView *row : view->rows())
            if (row->isOperating() || row->spinner()->isAnimating())
                nodes << row->disk().deviceNode;
        return nodes;
    };
    QTest::mouseClick(view->row("disk4s1")->mountButton(), Qt::LeftButton);
    EXPECT_EQ(spinning(), QStringList({"disk4s1"}));

    // A second command while the first runs: both cards spin. The unmount (one command) ends
    // before the remount (several), and the remount's card spins on until it ends too.
    QTest::qWait(100);
    QTest::mouseClick(view->row("disk6")->unmountButton(), Qt::LeftButton);
    EXPECT_EQ(spinning(), QStringList({"disk4s1", "disk6"}));
    waitForAlert();
    EXPECT_EQ(presenter->open->message, "「Stick」を安全に取り外したよ！");
    EXPECT_EQ(spinning(), QStringList({"disk4s1"}));
    EXPECT_FALSE(view->row("disk4s1")->mountButton()->isVisible());
    presenter->choose("OK");
    waitForAlert();
    EXPECT_EQ(presenter->open->message, "「Data」を書き込み可能でマウントしたよ、お兄ちゃん！");
    EXPECT_EQ(spinning(), QStringList());
    EXPECT_FALSE(view->isOperating());
    presenter->choose("OK");

    // Closed mid-mount: the models go with the window and the rest of the mount finds no owner.
    presenter->presented.clear();
    QTest::mouseClick(view->row("disk4s1")->mountButton(), Qt::LeftButton);
    QTest::qWait(100);
    QPointer<DiskManager> manager = view->diskManager();
    QPointer<DependencyChecker> checker = view->dependencyChecker();
    view.reset();
    EXPECT_TRUE(manager.isNull() && checker.isNull());
    QTest::qWait(1300);
    EXPECT_TRUE(presenter->presented.isEmpty());
}

TEST_F(WindowFixture, AtTheMinimumWidthNothingIsPushedOutAndLongTextIsElided)
{
    // Hosted the way the application hosts it: inside a window's layout.
    NTFSDisk longName = kData;
    longName.volumeName = QString("とても長い名前のボリューム").repeated(6);
    machine.setDisks({longName, kBackup, kStick});
    machine.setPrerequisites(true, false, true); // the panel and the uninstall command both show
    QWidget window;
    auto *layout = new QVBoxLayout(&window);
    layout->setContentsMargins(0, 0, 0, 0);
    auto *content = new ContentView(machine.environment());
    content->setAlertPresenter(presenter);
    layout->addWidget(content);
    window.resize(550, 400);
    window.show();
    ASSERT_TRUE(processEventsUntil([&] { return content->rows().size() == 3; }));
    content->footerView()->setLastError("Mount failed: " + QString("x").repeated(400) + "\nsecond line");
    content->warningView()->setExpanded(true);
    QApplication::processEvents();
    QApplication::processEvents();

    // The expanded panel makes the window taller, not wider.
    EXPECT_EQ(window.width(), 550);
    EXPECT_GT(window.height(), 400);
    auto rightEdge = [&](QWidget *widget) { return widget->mapTo(content, QPoint(widget->width(), 0)).x(); };
    for (DiskRowView *row : content->rows()) {
        EXPECT_LE(rightEdge(row), 550 - 16);
        QWidget *control = row->mountButton()->isVisible() ? row->mountButton() : row->unmountButton();
        EXPECT_LE(rightEdge(control), rightEdge(row) - 12);
        EXPECT_GE(row->badgeLabel()->width(), row->badgeLabel()->sizeHint().width());
    }
    EXPECT_TRUE(content->rows().first()->nameLabel()->displayedText().endsWith(QStringLiteral("…")));
    EXPECT_LE(rightEdge(content->footerView()->versionLabel()), 550 - 16);
    EXPECT_LE(rightEdge(content->headerView()->refreshButton()), 550 - 16);
    // The footer's error keeps to one line; the wrapped instructions get all of theirs.
    ElidedLabel *error = content->footerView()->errorLabel();
    EXPECT_TRUE(error->isElided());
    EXPECT_FALSE(error->displayedText().contains('\n'));
    EXPECT_EQ(error->height(), error->fontMetrics().height());
    TextLabel *instructions = content->warningView()->instructionsLabel();
    EXPECT_GE(instructions->height(), instructions->heightForWidth(instructions->width()));
    // The list still has room for one card.
    EXPECT_GE(content->diskList()->viewport()->height(), content->rows().first()->parentWidget()->sizeHint().height());
}
