// The tray menu built from scripted application models: entries, order, enabling, and what the
// entries do (model calls, notifications, window actions).
#include "ui/menu_bar/MenuBarView.h"

#include "dependencies/DependencyChecker.h"
#include "disks/FailureAdvice.h"
#include "support/TrayTestSupport.h"
#include "ui/toolkit/Symbols.h"

namespace {

// One line per entry as the user sees it: "---" for a separator, "[off]" for a greyed-out entry,
// "[icon]" for an entry with an icon, "▸" for a submenu.
QStringList describe(const QMenu *menu)
{
    QStringList lines;
    for (const QAction *action : menu->actions()) {
        QString line = action->isSeparator() ? "---" : action->iconText(); // without mnemonic markers
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

const QString kMount = "読み書きマウント", kEject = "安全に取り出す (Unmount)", kRescan = "ディスクを再スキャン";
const QStringList kTail = {"---", kRescan, "メイン画面を開く", "---", "アプリを終了"};
const QStringList kEmpty = QStringList{"[off] 検出されたNTFSドライブなし"} + kTail;

struct MenuFixture : ::testing::Test {
    ScriptedMachine machine;
    std::shared_ptr<RecordingNotifications> notifications = std::make_shared<RecordingNotifications>();
    std::unique_ptr<DiskManager> diskManager;
    std::unique_ptr<DependencyChecker> dependencyChecker;
    std::unique_ptr<MenuBarView> view;
    QStringList windowActions;

    void start(const QList<NTFSDisk> &disks)
    {
        machine.setPrerequisites(false, true, true);
        machine.setDisks(disks);
        const ModelEnvironment env = machine.environment();
        diskManager = std::make_unique<DiskManager>(env);
        dependencyChecker = std::make_unique<DependencyChecker>(env.platform, env.runner, env.files);
        MenuBarActions actions{
            [this](const QString &identifier) { windowActions << "open " + identifier; },
            [this] { windowActions << "activate"; },
            [this] { windowActions << "quit"; },
        };
        view = std::make_unique<MenuBarView>(diskManager.get(), dependencyChecker.get(), actions, notifications);
        waitForScan();
    }
    void waitForScan() { ::waitForScan(machine, diskManager.get()); }
    void rescan(const QList<NTFSDisk> &disks)
    {
        machine.setDisks(disks);
        machine.runner->clearCalls();
        trigger(view->menu(), kRescan);
        waitForScan();
    }
    QMenu *submenu(int index) const { return view->menu()->actions().at(index)->menu(); }
    // The user opens the tray menu and closes it again.
    void openMenu()
    {
        view->menu()->popup(QPoint(0, 0));
        view->menu()->hide();
    }
    void waitForNotifications(int count)
    {
        ASSERT_TRUE(testsupport::processEventsUntil([&] { return notifications->sent.size() >= count; }));
    }
};

} // namespace

TEST_F(MenuFixture, NoDiskShowsTheGreyedOutEntryAndARescanRebuildsFromTheNewList)
{
    start({});
    EXPECT_EQ(describe(view->menu()), kEmpty);
    rescan({writableDisk("disk4s1", "Data")});
    EXPECT_EQ(describe(view->menu()), QStringList{"▸ Data"} + kTail);
    rescan({});
    EXPECT_EQ(describe(view->menu()), kEmpty);
    EXPECT_TRUE(notifications->sent.isEmpty());
}

// The prerequisites change behind the menu's back (the window's setup or uninstall) and are
// found again when it opens.
TEST_F(MenuFixture, OpeningLooksForThePrerequisitesAgainAndMountNeedsFuseTAndNtfs3gWhateverHomebrewSays)
{
    start({readOnlyDisk("disk4s1", "Data")});
    const struct {
        bool homebrew, fuseT, ntfs3g;
        QString mount;
    } cases[] = {{false, false, true, "[off] [icon] " + kMount},
                 {true, true, false, "[off] [icon] " + kMount},
                 {false, true, true, "[icon] " + kMount}};
    for (const auto &c : cases) {
        machine.setPrerequisites(c.homebrew, c.fuseT, c.ntfs3g);
        openMenu();
        EXPECT_EQ(describe(submenu(0)), QStringList({"詳細情報: disk4s1", "---", c.mount})) << c.fuseT << c.ntfs3g;
    }
}

TEST_F(MenuFixture, SubmenusFollowTheScanOrderOnePerDiskWithEjectOrMountAndTheWindowEntries)
{
    // Two volumes of the same name, a writable one and an unmounted one; names are shown as
    // they are, "&" included.
    start({readOnlyDisk("disk4s1", "Data"), writableDisk("disk5s1", "Data"), unmountedDisk("disk6s2", "R&D")});
    EXPECT_EQ(describe(view->menu()), QStringList({"▸ Data", "▸ Data", "▸ R&D"}) + kTail);
    EXPECT_EQ(describe(submenu(0)), QStringList({"詳細情報: disk4s1", "---", "[icon] " + kMount}));
    EXPECT_EQ(describe(submenu(1)), QStringList({"詳細情報: disk5s1", "---", "[icon] " + kEject}));
    EXPECT_EQ(describe(submenu(2)), QStringList({"詳細情報: disk6s2", "---", "[icon] " + kMount}));
    EXPECT_EQ(entry(submenu(1), kEject)->icon().pixmap(16).toImage(), Toolkit::symbol("eject.fill").pixmap(16).toImage());
    EXPECT_EQ(entry(submenu(0), kMount)->icon().pixmap(16).toImage(),
              Toolkit::symbol("pencil.and.outline").pixmap(16).toImage());

    // The window entries open the main window; only the top one activates it.
    trigger(submenu(0), "詳細情報: disk4s1");
    trigger(view->menu(), "メイン画面を開く");
    trigger(view->menu(), "アプリを終了");
    EXPECT_EQ(windowActions, QStringList({"open main-window", "open main-window", "activate", "quit"}));
}

TEST_F(MenuFixture, MountAndEjectPostTheirOutcomeWithTheRemedyAsItsAction)
{
    const struct {
        NTFSDisk before;
        QString entry, unmountError, expected;
    } cases[] = {
        {readOnlyDisk("disk4s1", "Data"), kMount, "", "マウント成功 / 「Data」を書き込み可能にしたよ、お兄ちゃん！"},
        {readOnlyDisk("disk5s1", "Data"), kMount, "Volume Data is busy",
         "マウント失敗 / Failed to unmount existing read-only volume: Volume Data is busy"},
        {writableDisk("disk6s1", "Data"), kEject, "", "取り出し成功 / 「Data」を安全に取り出したよ！"},
        {writableDisk("disk7s1", "Data"), kEject, "Resource busy",
         "取り出し失敗 / Failed to unmount: Resource busy\n\n"
             + FailureAdvice::offerRetry({DiskError::UnmountFailed, "busy"}, {}).explanation + " [もう一度試す]"},
    };
    start({});
    for (const auto &c : cases) {
        SCOPED_TRACE(c.expected.toStdString());
        rescan({c.before});
        notifications->sent.clear();
        if (!c.unmountError.isEmpty())
            machine.runner->on("/usr/sbin/diskutil unmount /dev/" + c.before.deviceNode, ScriptedRunner::fail(c.unmountError));
        trigger(submenu(0), c.entry);
        waitForNotifications(1);
        EXPECT_EQ(notifications->sent, QStringList{c.expected});
    }
    // Two mounts at once each post their own notification, and each disk's entry stays greyed out
    // until its own mount ends: Photos fails at once, Data has its system mount to remove first.
    rescan({readOnlyDisk("disk8s1", "Data"), unmountedDisk("disk9s1", "Photos")});
    notifications->sent.clear();
    machine.runner->onPrefix("mkdir -p \"/Volumes/Photos", ScriptedRunner::fail("Permission denied"));
    machine.runner->setAsyncDelay(std::chrono::milliseconds(60));
    const QString busy = "[off] [icon] " + kMount, ready = "[icon] " + kMount;
    trigger(submenu(0), kMount);
    trigger(submenu(1), kMount);
    EXPECT_EQ(describe(submenu(0)).last(), busy);
    EXPECT_EQ(describe(submenu(1)).last(), busy);
    waitForNotifications(1);
    EXPECT_TRUE(notifications->sent.first().startsWith("マウント失敗 / ")) << notifications->sent.first().toStdString();
    EXPECT_EQ(describe(submenu(1)).last(), ready);
    EXPECT_EQ(describe(submenu(0)).last(), busy);
    waitForNotifications(2);
    EXPECT_EQ(notifications->sent.last(), "マウント成功 / 「Data」を書き込み可能にしたよ、お兄ちゃん！");
    EXPECT_EQ(describe(submenu(0)).last(), ready);

    // A hibernated volume: the failure offers the read-only mount as its action, which greys the
    // entry out while it runs and posts its own outcome.
    rescan({readOnlyDisk("disk4s1", "Data")});
    notifications->sent.clear();
    machine.files->readOnlyMounts.insert("/Volumes/Data");
    const QString ntfs3g = "\"/opt/homebrew/bin/ntfs-3g\" /dev/disk4s1 \"/Volumes/Data\" -o ";
    machine.runner->on(ntfs3g + "local,allow_other,auto_xattr,backend=fskit",
                       ScriptedRunner::ok("Windows is hibernated, mounted as read-only."));
    trigger(submenu(0), kMount);
    waitForNotifications(1);
    const QString failed = notifications->sent.first();
    EXPECT_TRUE(failed.startsWith("マウント失敗 / Mount failed: Windows is hibernated, mounted as read-only.\n\nWindows が"))
        << failed.toStdString();
    EXPECT_TRUE(failed.endsWith("。 [読み取り専用でマウント]")) << failed.toStdString();
    ASSERT_TRUE(notifications->lastAction);
    notifications->lastAction->run();
    EXPECT_EQ(describe(submenu(0)).last(), busy);
    waitForNotifications(2);
    EXPECT_EQ(notifications->sent.last(), "マウント成功 / 「Data」を読み取り専用でマウントしたよ。");
    EXPECT_TRUE(machine.runner->lines().contains(ntfs3g + "ro,local,allow_other,auto_xattr,backend=fskit"));
}

TEST_F(MenuFixture, AStaleMountEntryWithoutAnNtfs3gPathDoesNothing)
{
    start({readOnlyDisk("disk4s1", "Data")});
    QAction *mount = entry(submenu(0), kMount);
    machine.setPrerequisites(false, true, false);
    dependencyChecker->checkDependencies();
    ASSERT_FALSE(dependencyChecker->status().ntfs3gPath.has_value());
    machine.runner->clearCalls();
    mount->trigger(); // the old entry, still alive until the event loop runs
    QCoreApplication::processEvents();
    EXPECT_TRUE(machine.runner->calls().isEmpty());
    EXPECT_TRUE(notifications->sent.isEmpty());
}
