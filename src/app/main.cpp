// Quorvel NTFS Mount: the tray item and main window for writing to NTFS disks.
#include "app/AppInfo.h"
#include "app/QuorvelNTFSMountApp.h"
#include "app/Toolkit.h"

#include <QApplication>

#if __has_include("ui/main_window/ContentView.h") && defined(QUORVEL_WITH_MAIN_WINDOW)
#include "ui/main_window/ContentView.h"
static QWidget *makeMainWindowContent() { return new ContentView; }
#else
// Until the main window's content is built: an empty surface of its minimum size.
static QWidget *makeMainWindowContent()
{
    auto *placeholder = new QWidget;
    placeholder->setMinimumSize(550, 400);
    return placeholder;
}
#endif

int main(int argc, char **argv)
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(AppInfo::executableName());
    QApplication::setApplicationDisplayName(AppInfo::title());
    QApplication::setApplicationVersion(QStringLiteral(QUORVEL_VERSION));
    Toolkit::applyApplicationLook();
    QApplication::setWindowIcon(Toolkit::symbol(QStringLiteral("opticaldiscdrive.fill")));

    QuorvelNTFSMountApp app(systemNotificationService(), ModelEnvironment::host(), makeMainWindowContent);
    return application.exec();
}
