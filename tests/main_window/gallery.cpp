// Renders the main window in its typical states into PNG files, to look at: no disks, three
// cards, the warning panel (collapsed, expanded with an error, during setup), a disk error in the
// footer, the uninstall confirmation, a mount in progress, and the three cards on a dark palette.
//
//   main_window_gallery OUTPUT_DIR
#include "ScriptedMachine.h"
#include "app/Toolkit.h"
#include "dependencies/DependencyChecker.h"
#include "disks/DiskManager.h"
#include "support/TestSupport.h"
#include "ui/main_window/ContentView.h"
#include "ui/main_window/DependencyWarningView.h"
#include "ui/main_window/DiskRowView.h"
#include "ui/main_window/FooterView.h"

#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QPainter>
#include <QTest>

#include <cstdio>
#include <functional>
#include <source_location>

using namespace mainwindow;

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
        view->setWindowTitle(QStringLiteral("Quorvel NTFS Mount"));
        view->resize(550, 400);
        view->show();
        settle([&] {
            return machine.runner->lines().contains(QStringLiteral("/sbin/mount ")) && !view->diskManager()->isScanning();
        });
    }
    void settle(const std::function<bool()> &condition = [] { return true; },
                std::source_location where = std::source_location::current())
    {
        if (!testsupport::processEventsUntil(condition, 10000)) {
            std::fprintf(stderr, "gallery: the state at line %u did not settle\n", unsigned(where.line()));
            ++s_failures;
        }
        QTest::qWait(50);
    }
};

void save(const QImage &image, const QString &name)
{
    const QString path = QDir(s_outputDir).filePath(name + QStringLiteral(".png"));
    if (!image.save(path)) {
        std::fprintf(stderr, "gallery: cannot write %s\n", qPrintable(path));
        ++s_failures;
        return;
    }
    std::printf("%s (%dx%d)\n", qPrintable(path), image.width(), image.height());
}

void save(QWidget *widget, const QString &name)
{
    save(widget->grab().toImage(), name);
}

// The window with its open alert drawn centred over it, the way the desktop shows it.
void saveWithAlert(QWidget *window, QMessageBox *box, const QString &name)
{
    QImage image = window->grab().toImage();
    const QImage alert = box->grab().toImage();
    QPainter painter(&image);
    painter.fillRect(image.rect(), QColor(0, 0, 0, 60));
    const QSizeF alertSize = alert.deviceIndependentSize();
    const QPointF at((image.deviceIndependentSize().width() - alertSize.width()) / 2,
                     (image.deviceIndependentSize().height() - alertSize.height()) / 3);
    painter.setPen(QColor(0, 0, 0, 90));
    painter.drawRect(QRectF(at, alertSize).adjusted(-1, -1, 0, 0));
    painter.drawImage(at, alert);
    painter.end();
    save(image, name);
}

QPalette darkPalette()
{
    QPalette p;
    const QColor window(0x1e, 0x1e, 0x1e), base(0x2b, 0x2b, 0x2d), text(0xec, 0xec, 0xec);
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, base);
    p.setColor(QPalette::AlternateBase, window);
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, QColor(0x3a, 0x3a, 0x3c));
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::ToolTipBase, base);
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::Highlight, QColor(0x0a, 0x84, 0xff));
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::PlaceholderText, QColor(0x8e, 0x8e, 0x93));
    p.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0x70, 0x70, 0x70));
    p.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0x70, 0x70, 0x70));
    p.setColor(QPalette::Disabled, QPalette::Text, QColor(0x70, 0x70, 0x70));
    return p;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication application(argc, argv);
    QApplication::setApplicationDisplayName(QStringLiteral("Quorvel NTFS Mount"));
    Toolkit::applyApplicationLook();
    s_outputDir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("screenshots");
    QDir().mkpath(s_outputDir);
    DependencyWarningView::setAnimationDuration(0);
    const QPalette lightPalette = QApplication::palette();

    {
        Window w({}, true, true, true);
        save(w.view.get(), QStringLiteral("01-no-disks"));
    }
    {
        Window w({kWritable, kReadOnly, kNotMounted}, true, true, true);
        save(w.view.get(), QStringLiteral("02-three-cards"));

        // A mount running on the read-only card: its spinner instead of the button.
        w.machine.runner->setAsyncDelay(std::chrono::seconds(30));
        w.view->row(kReadOnly.deviceNode)->mountButton()->click();
        w.settle();
        save(w.view.get(), QStringLiteral("03-mount-running"));
    }
    {
        Window w({kReadOnly, kNotMounted}, false, false, false);
        save(w.view.get(), QStringLiteral("04-panel-collapsed"));
    }
    {
        Window w({kReadOnly}, true, false, false);
        w.machine.runner->onPrefix(QStringLiteral("/opt/homebrew/bin/brew tap"),
                                   ScriptedRunner::fail(QStringLiteral("Error: Failure while executing; `git clone https://github.com/macos-fuse-t/homebrew-cask` exited with 128.")));
        w.view->warningView()->toggleButton()->click();
        w.view->warningView()->setupButton()->click();
        w.settle([&] { return !w.view->depChecker()->installErrorMessage().isEmpty() && !w.view->depChecker()->isInstalling(); });
        save(w.view.get(), QStringLiteral("05-panel-expanded-error"));
    }
    {
        Window w({kReadOnly}, true, false, false);
        w.machine.runner->setAsyncDelay(std::chrono::seconds(30));
        w.view->warningView()->toggleButton()->click();
        w.view->warningView()->setupButton()->click();
        w.settle([&] { return w.view->depChecker()->isInstalling(); });
        save(w.view.get(), QStringLiteral("06-panel-during-setup"));
    }
    {
        Window w({kWritable, kReadOnly}, true, true, true);
        w.view->footerView()->setLastError(QStringLiteral(
            "Failed to unmount: Volume Data on disk4s1 failed to unmount: dissented by PID 4242 (/System/Library/Frameworks/CoreServices.framework/Frameworks/Metadata.framework/Support/mds)"));
        w.settle();
        save(w.view.get(), QStringLiteral("07-footer-disk-error"));
    }
    {
        Window w({kWritable}, true, true, true);
        w.view->footerView()->uninstallButton()->click();
        w.settle();
        QMessageBox *box = w.view->footerView()->findChild<QMessageBox *>();
        if (box)
            saveWithAlert(w.view.get(), box, QStringLiteral("08-uninstall-confirmation"));
        else
            ++s_failures;
    }
    {
        Window w({kWritable}, true, true, true);
        w.machine.runner->setAsyncDelay(std::chrono::seconds(30));
        w.view->footerView()->uninstallButton()->click();
        w.settle();
        if (QMessageBox *box = w.view->footerView()->findChild<QMessageBox *>())
            for (QAbstractButton *button : box->buttons())
                if (button->text() == QStringLiteral("アンインストールする"))
                    button->click();
        w.settle([&] { return w.view->depChecker()->isUninstalling(); });
        save(w.view.get(), QStringLiteral("09-uninstall-running"));
    }
    {
        Window w({kReadOnly}, true, true, true);
        w.view->row(kReadOnly.deviceNode)->mountButton()->click();
        w.settle([&] { return w.view->showAlert(); });
        if (QMessageBox *box = w.view->findChild<QMessageBox *>())
            saveWithAlert(w.view.get(), box, QStringLiteral("10-mount-succeeded"));
        else
            ++s_failures;
    }

    {
        // Opened on the light palette and switched while open, as the desktop does.
        Window w({kWritable, kReadOnly, kNotMounted}, true, true, true);
        QApplication::setPalette(darkPalette());
        w.settle();
        save(w.view.get(), QStringLiteral("11-three-cards-dark"));
    }
    {
        Window w({kReadOnly}, true, false, false);
        w.view->warningView()->toggleButton()->click();
        w.settle();
        save(w.view.get(), QStringLiteral("12-panel-expanded-dark"));
    }
    QApplication::setPalette(lightPalette);

    return s_failures == 0 ? 0 : 1;
}
