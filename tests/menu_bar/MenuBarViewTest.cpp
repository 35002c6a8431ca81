// The tray menu built from scripted application models: entries, order, enabling, and what the
// entries do (model calls, notifications, window actions).
#include "ui/menu_bar/MenuBarView.h"

#include "app/RecordingNotifications.h"
#include "app/ScriptedMachine.h"
#include "app/Toolkit.h"
#include "dependencies/DependencyChecker.h"
#include "disks/DiskManager.h"
#include "support/TestSupport.h"

#include <QAction>
#include <QMenu>

#include <gtest/gtest.h>

namespace {

using Notice = RecordingNotifications::Notice;

// One line per entry as the user sees it: "---" for a separator, "[off]" for a greyed-out entry,
// "[icon]" for an entry with an icon, "▸" for a submenu.
QStringList describe(const QMenu *menu)
{
    QStringList lines;
    for (const QAction *action : menu->actions()) {
        if (action->isSeparator()) {
            lines << "---";
            continue;
        }
        QString line = action->iconText(); // the text without mnemonic markers
        if (action->menu())
            line.prepend("▸ ");
        if (!action->icon().isNull())
            line.prepend("[icon] ");
        if (!action->isEnabled())
            line.prepend("[off] ");
        lines << line;
    }
    return lines;
}

struct MenuFixture : ::testing::Test {
    ScriptedMachine machine;
    std::shared_ptr<RecordingNotifications> notifications = std::make_shared<RecordingNotifications>();
    std::unique_ptr<DiskManager> diskManager;
    std::unique_ptr<DependencyChecker> depChecker;
    std::unique_ptr<MenuBarView> view;
    QStringList windowActions;

    void start(const QList<NTFSDisk> &disks)
    {
        machine.setDisks(disks);
        const ModelEnvironment env = machine.environment();
        diskManager = std::make_unique<DiskManager>(env);
        depChecker = std::make_unique<DependencyChecker>(env.platform, env.runner, env.files);
        MenuBarActions actions{
            [this](const QString &identifier) { windowActions << "open " + identifier; },
            [this] { windowActions << "activate"; },
            [this] { windowActions << "quit"; },
        };
        view = std::make_unique<MenuBarView>(diskManager.get(), depChecker.get(), actions, notifications);
        waitForScan();
    }
    void waitForScan()
    {
        ASSERT_TRUE(testsupport::processEventsUntil(
            [&] { return !machine.runner->calls().isEmpty() && !diskManager->isScanning(); }));
    }
    QMenu *menu() const { return view->menu(); }
    QAction *entry(const QMenu *in, const QString &text) const
    {
        for (QAction *action : in->actions())
            if (action->iconText() == text)
                return action;
        return nullptr;
    }
    QMenu *submenu(int index) const
    {
        QAction *action = menu()->actions().value(index);
        return action ? action->menu() : nullptr;
    }
    void trigger(const QMenu *in, const QString &text)
    {
        QAction *action = entry(in, text);
        ASSERT_NE(action, nullptr) << text.toStdString();
        action->trigger();
    }
    void waitForNotifications(int count)
    {
        ASSERT_TRUE(testsupport::processEventsUntil([&] { return notifications->sent.size() >= count; }));
    }
};

const QStringList kTail = {"---", "ディスクを再スキャン", "メイン画面を開く", "---", "アプリを終了"};

} // namespace

TEST_F(MenuFixture, NoDiskShowsTheGreyedOutEntryAboveTheFixedEntries)
{
    start({});
    EXPECT_EQ(describe(menu()), QStringList{"[off] 検出されたNTFSドライブなし"} + kTail);
}

TEST_F(MenuFixture, ReadOnlyDiskOffersTheMountOnlyWithFuseTAndNtfs3g)
{
    start({readOnlyDisk("disk4s1", "Data")});
    EXPECT_EQ(describe(menu()), QStringList{"▸ Data"} + kTail);
    EXPECT_EQ(describe(submenu(0)), QStringList({"詳細情報: disk4s1", "---", "[icon] 読み書きマウント"}));

    // The enabling follows every new status; Homebrew plays no part.
    machine.setDependencies(false, true);
    depChecker->checkDependencies();
    EXPECT_EQ(describe(submenu(0)), QStringList({"詳細情報: disk4s1", "---", "[off] [icon] 読み書きマウント"}));
    machine.setDependencies(true, false);
    depChecker->checkDependencies();
    EXPECT_EQ(describe(submenu(0)).last(), "[off] [icon] 読み書きマウント");
    machine.setDependencies(true, true);
    depChecker->checkDependencies();
    ASSERT_FALSE(depChecker->status().isHomebrewInstalled);
    EXPECT_EQ(describe(submenu(0)).last(), "[icon] 読み書きマウント");
}

TEST_F(MenuFixture, SubmenusFollowTheScanOrderOnePerDisk)
{
    // Two volumes of the same name, a writable one and an unmounted one; names are shown as
    // they are, "&" included.
    start({readOnlyDisk("disk4s1", "Data"), writableDisk("disk5s1", "Data"), unmountedDisk("disk6s2", "R&D")});
    EXPECT_EQ(describe(menu()), QStringList({"▸ Data", "▸ Data", "▸ R&D"}) + kTail);
    EXPECT_EQ(describe(submenu(0)), QStringList({"詳細情報: disk4s1", "---", "[icon] 読み書きマウント"}));
    EXPECT_EQ(describe(submenu(1)), QStringList({"詳細情報: disk5s1", "---", "[icon] 安全に取り出す (Unmount)"}));
    EXPECT_EQ(describe(submenu(2)), QStringList({"詳細情報: disk6s2", "---", "[icon] 読み書きマウント"}));
    EXPECT_EQ(submenu(1)->menuAction()->data().toString(), "disk5s1");

    // The icons are the eject and pencil symbols.
    const QImage eject = entry(submenu(1), "安全に取り出す (Unmount)")->icon().pixmap(16).toImage();
    EXPECT_EQ(eject, Toolkit::symbol("eject.fill").pixmap(16).toImage());
    const QImage pencil = entry(submenu(0), "読み書きマウント")->icon().pixmap(16).toImage();
    EXPECT_EQ(pencil, Toolkit::symbol("pencil.and.outline").pixmap(16).toImage());
}

TEST_F(MenuFixture, RescanRebuildsFromTheNewList)
{
    start({});
    machine.setDisks({writableDisk("disk4s1", "Data")});
    trigger(menu(), "ディスクを再スキャン");
    ASSERT_TRUE(testsupport::processEventsUntil([&] { return !diskManager->disks().isEmpty(); }));
    EXPECT_EQ(describe(menu()), QStringList{"▸ Data"} + kTail);

    machine.setDisks({});
    trigger(menu(), "ディスクを再スキャン");
    ASSERT_TRUE(testsupport::processEventsUntil([&] { return diskManager->disks().isEmpty(); }));
    EXPECT_EQ(describe(menu()), QStringList{"[off] 検出されたNTFSドライブなし"} + kTail);
    EXPECT_TRUE(notifications->sent.isEmpty());
}

TEST_F(MenuFixture, MountPostsTheOutcome)
{
    start({readOnlyDisk("disk4s1", "Data")});
    machine.setDisks({writableDisk("disk4s1", "Data")});
    trigger(submenu(0), "読み書きマウント");
    waitForNotifications(1);
    EXPECT_EQ(notifications->sent, QList<Notice>({{"マウント成功", "「Data」を書き込み可能にしたよ、お兄ちゃん！"}}));
    EXPECT_TRUE(machine.runner->lines().contains(
        "\"/opt/homebrew/bin/ntfs-3g\" /dev/disk4s1 \"/Volumes/Data\" -o local,allow_other,auto_xattr,backend=fskit"));
    // The mount's own rescan turned the entry into the eject.
    EXPECT_EQ(describe(submenu(0)).last(), "[icon] 安全に取り出す (Unmount)");

    // A failure carries the error's description.
    notifications->sent.clear();
    machine.setDisks({readOnlyDisk("disk4s1", "Data")});
    diskManager->scanDisks();
    waitForScan();
    machine.runner->on(ScriptedMachine::unmountLine("disk4s1"), ScriptedRunner::fail("Volume Data is busy"));
    trigger(submenu(0), "読み書きマウント");
    waitForNotifications(1);
    EXPECT_EQ(notifications->sent,
              QList<Notice>({{"マウント失敗", "Failed to unmount existing read-only volume: Volume Data is busy"}}));
}

TEST_F(MenuFixture, TwoMountsInQuickSuccessionEachPostTheirOwnNotification)
{
    start({unmountedDisk("disk4s1", "Data"), unmountedDisk("disk5s1", "Photos")});
    trigger(submenu(0), "読み書きマウント");
    trigger(submenu(1), "読み書きマウント");
    waitForNotifications(2);
    QStringList bodies;
    for (const Notice &notice : notifications->sent)
        bodies << notice.body;
    bodies.sort();
    EXPECT_EQ(bodies, QStringList({"「Data」を書き込み可能にしたよ、お兄ちゃん！", "「Photos」を書き込み可能にしたよ、お兄ちゃん！"}));
}

TEST_F(MenuFixture, MountWithoutAnNtfs3gPathDoesNothing)
{
    start({readOnlyDisk("disk4s1", "Data")});
    QAction *mount = entry(submenu(0), "読み書きマウント");
    // The prerequisites went away after the menu was built, without a new check.
    machine.setDependencies(true, false);
    const DependencyStatus stale = depChecker->status();
    ASSERT_TRUE(stale.ntfs3gPath.has_value());
    depChecker->checkDependencies();
    ASSERT_FALSE(depChecker->status().ntfs3gPath.has_value());
    machine.runner->clearCalls();
    mount->trigger(); // the old entry, still alive until the event loop runs
    QCoreApplication::processEvents();
    EXPECT_TRUE(machine.runner->calls().isEmpty());
    EXPECT_TRUE(notifications->sent.isEmpty());
}

TEST_F(MenuFixture, EjectPostsTheOutcome)
{
    start({writableDisk("disk4s1", "Data")});
    machine.setDisks({});
    trigger(submenu(0), "安全に取り出す (Unmount)");
    waitForNotifications(1);
    EXPECT_EQ(notifications->sent, QList<Notice>({{"取り出し成功", "「Data」を安全に取り出したよ！"}}));
    EXPECT_EQ(describe(menu()).first(), "[off] 検出されたNTFSドライブなし");

    notifications->sent.clear();
    machine.setDisks({writableDisk("disk4s1", "Data")});
    diskManager->scanDisks();
    waitForScan();
    machine.runner->on(ScriptedMachine::unmountLine("disk4s1"), ScriptedRunner::fail("Resource busy"));
    trigger(submenu(0), "安全に取り出す (Unmount)");
    waitForNotifications(1);
    EXPECT_EQ(notifications->sent, QList<Notice>({{"取り出し失敗", "Failed to unmount: Resource busy"}}));
}

TEST_F(MenuFixture, WindowEntriesOpenTheMainWindowAndOnlyTheTopOneActivates)
{
    start({readOnlyDisk("disk4s1", "Data")});
    trigger(submenu(0), "詳細情報: disk4s1");
    EXPECT_EQ(windowActions, QStringList({"open main-window"}));
    windowActions.clear();
    trigger(menu(), "メイン画面を開く");
    EXPECT_EQ(windowActions, QStringList({"open main-window", "activate"}));
    windowActions.clear();
    trigger(menu(), "アプリを終了");
    EXPECT_EQ(windowActions, QStringList({"quit"}));
}
