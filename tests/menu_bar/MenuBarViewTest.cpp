// The tray menu built from scripted application models: its entries in scan order, and mount
// entries that follow the prerequisites each time the menu opens.
#include "ui/menu_bar/MenuBarView.h"

#include "dependencies/DependencyChecker.h"
#include "support/TrayTestSupport.h"

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

struct MenuFixture : ::testing::Test {
    ScriptedMachine machine;
    std::unique_ptr<DiskManager> diskManager;
    std::unique_ptr<DependencyChecker> dependencyChecker;
    std::unique_ptr<MenuBarView> view;

    void start(const QList<NTFSDisk> &disks)
    {
        machine.setPrerequisites(false, true, true);
        machine.setDisks(disks);
        const ModelEnvironment env = machine.environment();
        diskManager = std::make_unique<DiskManager>(env);
        dependencyChecker = std::make_unique<DependencyChecker>(env.platform, env.runner, env.files);
        view = std::make_unique<MenuBarView>(diskManager.get(), dependencyChecker.get(), MenuBarActions{},
                                             std::make_shared<RecordingNotifications>());
        waitForScan(machine, diskManager.get());
    }
    QMenu *submenu(int index) const { return view->menu()->actions().at(index)->menu(); }
};

} // namespace

// Not sorted, two volumes of the same name both listed, and "&" shown as it is. The
// prerequisites change behind the menu's back (the window's setup or uninstall) and are found
// again each time it opens; mount needs fuse-t and ntfs-3g whatever Homebrew says.
TEST_F(MenuFixture, OneSubmenuPerDiskInScanOrderWhoseMountFollowsThePrerequisitesOnOpening)
{
    start({disk("disk6s2", "R&D", false), readOnlyDisk("disk4s1", "Data"), writableDisk("disk5s1", "Data")});
    ASSERT_EQ(describe(view->menu()),
              QStringList({"▸ R&D", "▸ Data", "▸ Data", "---", kRescanEntry, "メイン画面を開く", "---", "アプリを終了"}));
    EXPECT_EQ(describe(submenu(0)), QStringList({"詳細情報: disk6s2", "---", kMountEntry}));
    EXPECT_EQ(describe(submenu(1)), QStringList({"詳細情報: disk4s1", "---", kMountEntry}));
    EXPECT_EQ(describe(submenu(2)), QStringList({"詳細情報: disk5s1", "---", kEjectEntry}));
    const struct {
        bool homebrew, fuseT, ntfs3g;
    } cases[] = {{false, false, true}, {true, true, false}, {false, true, true}};
    for (const auto &c : cases) {
        machine.setPrerequisites(c.homebrew, c.fuseT, c.ntfs3g);
        view->menu()->popup(QPoint(0, 0));
        view->menu()->hide();
        EXPECT_EQ(describe(submenu(1)).last(), (c.fuseT && c.ntfs3g ? "" : "[off] ") + kMountEntry) << c.fuseT << c.ntfs3g;
    }
}
