// Quorvel NTFS Mount: the tray item and main window for writing to NTFS disks.
#include "app/AppInfo.h"
#include "app/QuorvelNTFSMountApp.h"
#include "app/Toolkit.h"
#include "ui/main_window/ContentView.h"

#include <QApplication>

int main(int argc, char **argv)
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(AppInfo::executableName());
    QApplication::setApplicationDisplayName(AppInfo::title());
    QApplication::setApplicationVersion(QStringLiteral(QUORVEL_VERSION));
#ifdef QUORVEL_DESKTOP_FILE_NAME
    QGuiApplication::setDesktopFileName(QStringLiteral(QUORVEL_DESKTOP_FILE_NAME));
#endif
    Toolkit::applyApplicationLook();
    QApplication::setWindowIcon(Toolkit::symbol(QStringLiteral("opticaldiscdrive.fill")));

    QuorvelNTFSMountApp app(systemNotificationService(), ModelEnvironment::host(),
                            [] { return static_cast<QWidget *>(new ContentView); });
    return application.exec();
}
