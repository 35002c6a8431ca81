// Quorvel NTFS Mount: the tray item and main window for writing to NTFS disks.
#include "app/AppInfo.h"
#include "app/QuorvelNTFSMountApp.h"
#include "app/StartupMark.h"
#include "shell/Log.h"
#include "ui/main_window/ContentView.h"
#include "ui/toolkit/Style.h"
#include "ui/toolkit/Symbols.h"

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

    // For start-up measurements: one line on standard output once the main window is on screen
    // with its first scan's result.
    if (qEnvironmentVariableIsSet("QUORVEL_STARTUP_MARK")) {
        QWidget *window = app.mainWindow()->window();
        auto *mark = new StartupMark(window, window->findChild<ContentView *>()->diskManager(), &app);
        QObject::connect(mark, &StartupMark::reached, [] { writeLogLine(QStringLiteral("startup complete")); });
    }
    return application.exec();
}
