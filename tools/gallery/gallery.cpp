// Renders the main window in its typical states into PNG files, to look at: no disks, three
// cards, the warning panel (collapsed, expanded with an error, during setup), the uninstall
// confirmation and the uninstall running, a mount in progress and one done, the three cards on a
// dark palette, and the alerts of a hibernated volume, a busy unmount and a disk pulled out while mounted.
//
//   main_window_gallery OUTPUT_DIR
#include "AppInfo.h"
#include "dependencies/DependencyChecker.h"
#include "disks/DiskManager.h"
#include "disks/FailureAdvice.h"
#include "disks/MountPaths.h"
#include "support/ScriptedMachine.h"
#include "ui/main_window/ContentView.h"
#include "ui/main_window/DependencyWarningView.h"
#include "ui/main_window/DiskRowView.h"
#include "ui/main_window/FooterView.h"
#include "ui/toolkit/Style.h"
#include "ui/toolkit/ToolkitButton.h"

#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QPainter>
#include <QTest>

#include <cstdio>
#include <functional>
#include <source_location>

using namespace testsupport;

namespace {

const NTFSDisk kWritable{"disk4s1", "Data", 1000204886016, QString("/Volumes/Data"), true, "ntfs"};
const NTFSDisk kReadOnly{"disk5s2", "Windows", 63813500928, QString("/Volumes/Windows"), false, "ntfs"};
const NTFSDisk kNotMounted{"disk6s1", "とても長い名前の外付けバックアップドライブ 2024年版", 2000398934016, std::nullopt,
                           false, "ntfs"};

QString s_outputDir;
int s_failures = 0;

struct Window {
    ScriptedMachine machine;
    std::unique_ptr<ContentView> view;

    Window(const QList<NTFSDisk> &disks, bool homebrew, bool fuseT, bool ntfs3g)
    {
        machine.setDisks(disks);
        machine.setPrerequisites(homebrew, fuseT, ntfs3g);
        view = std::make_unique<ContentView>(machine.environment());
        view->setWindowTitle(AppInfo::title());
        view->resize(550, 400);
        view->show();
        settle([&] {
            return machine.runner->lines().contains(QStringLiteral("/sbin/mount ")) && !view->diskManager()->isScanning();
        });
    }
    void settle(const std::function<bool()> &condition = [] { return true; },
                std::source_location where = std::source_location::current())
    {
        if (!QTest::qWaitFor(condition, 10000)) {
            std::fprintf(stderr, "gallery: the state at line %u did not settle\n", unsigned(where.line()));
            ++s_failures;
        }
        QTest::qWait(50);
    }
    void slowCommands() { machine.runner->setAsyncDelay(std::chrono::seconds(30)); }
    void expandPanel() { view->warningView()->toggleButton()->click(); }
};

// The window, with its open alert (when asked for) drawn centred over it the way the desktop shows it.
void save(QWidget *window, const QString &name, bool withAlert)
{
    QImage image = window->grab().toImage();
    if (withAlert) {
        QMessageBox *box = window->findChild<QMessageBox *>();
        if (!box) {
            std::fprintf(stderr, "gallery: %s has no alert open\n", qPrintable(name));
            ++s_failures;
            return;
        }
        const QImage alert = box->grab().toImage();
        QPainter painter(&image);
        painter.fillRect(image.rect(), QColor(0, 0, 0, 60));
        const QSizeF alertSize = alert.deviceIndependentSize();
        const QPointF at((image.deviceIndependentSize().width() - alertSize.width()) / 2,
                         (image.deviceIndependentSize().height() - alertSize.height()) / 3);
        painter.setPen(QColor(0, 0, 0, 90));
        painter.drawRect(QRectF(at, alertSize).adjusted(-1, -1, 0, 0));
        painter.drawImage(at, alert);
    }
    const QString path = QDir(s_outputDir).filePath(name + QStringLiteral(".png"));
    if (!image.save(path)) {
        std::fprintf(stderr, "gallery: cannot write %s\n", qPrintable(path));
        ++s_failures;
        return;
    }
    std::printf("%s (%dx%d)\n", qPrintable(path), image.width(), image.height());
}

QPalette darkPalette()
{
    QPalette p;
    const QColor window(0x1e, 0x1e, 0x1e), base(0x2b, 0x2b, 0x2d), text(0xec, 0xec, 0xec), disabled(0x70, 0x70, 0x70);
    using R = QPalette;
    for (const auto &[role, color] :
         {std::pair{R::Window, window}, {R::WindowText, text}, {R::Base, base}, {R::AlternateBase, window},
          {R::Text, text}, {R::Button, QColor(0x3a, 0x3a, 0x3c)}, {R::ButtonText, text}, {R::ToolTipBase, base},
          {R::ToolTipText, text}, {R::Highlight, QColor(0x0a, 0x84, 0xff)}, {R::HighlightedText, QColor(Qt::white)},
          {R::PlaceholderText, QColor(0x8e, 0x8e, 0x93)}})
        p.setColor(role, color);
    for (const R::ColorRole role : {R::WindowText, R::ButtonText, R::Text})
        p.setColor(R::Disabled, role, disabled);
    return p;
}

// One picture: the window on these disks and tools, after `act`.
struct Shot {
    QString name;
    QList<NTFSDisk> disks;
    bool homebrew = true, fuseT = true, ntfs3g = true;
    std::function<void(Window &)> act = [](Window &) {};
    bool withAlert = false;
};

} // namespace

int main(int argc, char **argv)
{
    QApplication application(argc, argv);
    QApplication::setApplicationDisplayName(AppInfo::title());
    Toolkit::applyApplicationLook();
    s_outputDir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("screenshots");
    QDir().mkpath(s_outputDir);
    DependencyWarningView::setAnimationDuration(0);
    const QPalette lightPalette = QApplication::palette();
    const QList<NTFSDisk> three = {kWritable, kReadOnly, kNotMounted};

    const QList<Shot> shots = {
        {"01-no-disks", {}},
        {"02-three-cards", three},
        // A mount running on the read-only card: its spinner instead of the button.
        {"03-mount-running", three, true, true, true, [](Window &w) {
             w.slowCommands();
             w.view->row(kReadOnly.deviceNode)->mountButton()->click();
             w.settle();
         }},
        {"04-panel-collapsed", {kReadOnly, kNotMounted}, false, false, false},
        {"05-panel-expanded-error", {kReadOnly}, true, false, false, [](Window &w) {
             w.machine.runner->on(QStringLiteral("/opt/homebrew/bin/brew tap macos-fuse-t/homebrew-cask "),
                                        ScriptedRunner::fail(QStringLiteral("Error: Failure while executing; `git clone https://github.com/macos-fuse-t/homebrew-cask` exited with 128.")));
             w.expandPanel();
             w.view->warningView()->setupButton()->click();
             w.settle([&] { return !w.view->dependencyChecker()->installErrorMessage().isEmpty() && !w.view->dependencyChecker()->isInstalling(); });
         }},
        {"06-panel-during-setup", {kReadOnly}, true, false, false, [](Window &w) {
             w.slowCommands();
             w.expandPanel();
             w.view->warningView()->setupButton()->click();
             w.settle([&] { return w.view->dependencyChecker()->isInstalling(); });
         }},
        {"07-uninstall-confirmation", {kWritable}, true, true, true, [](Window &w) {
             w.view->footerView()->uninstallButton()->click();
             w.settle();
         }, true},
        {"08-uninstall-running", {kWritable}, true, true, true, [](Window &w) {
             w.slowCommands();
             w.view->footerView()->uninstallButton()->click();
             w.settle();
             if (QMessageBox *box = w.view->footerView()->findChild<QMessageBox *>())
                 for (QAbstractButton *button : box->buttons())
                     if (button->text() == QStringLiteral("アンインストールする"))
                         button->click();
             w.settle([&] { return w.view->dependencyChecker()->isUninstalling(); });
         }},
        {"09-mount-succeeded", {kReadOnly}, true, true, true, [](Window &w) {
             w.view->row(kReadOnly.deviceNode)->mountButton()->click();
             w.settle([&] { return w.view->showAlert(); });
         }, true},
        // Opened on the light palette and switched while open, as the desktop does.
        {"10-three-cards-dark", three, true, true, true, [](Window &w) {
             QApplication::setPalette(darkPalette());
             w.settle();
         }},
        {"11-panel-expanded-dark", {kReadOnly}, true, false, false, [](Window &w) {
             w.expandPanel();
             w.settle();
         }},
        // ntfs-3g came up read-only on a hibernated volume: the explanation, and the read-only
        // mount offered beside OK.
        {"12-hibernated-alert", {kReadOnly}, true, true, true, [](Window &w) {
             w.machine.files->readOnlyMounts.insert(*kReadOnly.mountPoint);
             w.machine.runner->on(MountPaths::ntfs3gLine(kNtfs3g, kReadOnly.deviceNode, *kReadOnly.mountPoint, Platform::macOS().ntfs3gOptions),
                                  ScriptedRunner::ok(QStringLiteral("Windows is hibernated, mounted as read-only.")));
             w.view->row(kReadOnly.deviceNode)->mountButton()->click();
             w.settle([&] { return w.view->showAlert(); });
         }, true},
        // An unmount the system refused while programs hold the volume, with another try offered.
        {"13-busy-unmount-alert", {kWritable}, true, true, true, [](Window &w) {
             const DiskError busy = FailureAdvice::offerRetry(
                 {DiskError::UnmountFailed, QStringLiteral("Failed to unmount: Volume Data on disk4s1 failed to unmount: dissented by PID 4242")},
                 {{{4242, QStringLiteral("Preview")}, {4310, QStringLiteral("ターミナル")}}, 1});
             w.view->report(kWritable, DiskManager::Operation::Unmount, busy);
             w.settle();
         }, true},
        {"14-removal-alert", {kReadOnly}, true, true, true, [](Window &w) {
             w.view->showRemoval(kWritable);
             w.settle();
         }, true},
    };
    for (const Shot &shot : shots) {
        // The dark shots keep the palette the first of them switched to; the others are light.
        if (!shot.name.endsWith(QStringLiteral("-dark")))
            QApplication::setPalette(lightPalette);
        Window w(shot.disks, shot.homebrew, shot.fuseT, shot.ntfs3g);
        shot.act(w);
        save(w.view.get(), shot.name, shot.withAlert);
    }
    QApplication::setPalette(lightPalette);

    return s_failures == 0 ? 0 : 1;
}
