// Quorvel NTFS Mount: the tray item and main window for writing to NTFS disks.
#include "AppInfo.h"
#include "app/QuorvelNTFSMountApp.h"
#include "app/SingleInstance.h"
#include "app/StartupMark.h"
#include "shell/Log.h"
#include "ui/main_window/ContentView.h"
#include "ui/toolkit/Style.h"
#include "ui/toolkit/Symbols.h"

#include <QApplication>
#include <QPixmapCache>
#include <QPointer>
#include <QThreadPool>

int main(int argc, char **argv)
{
    QApplication application(argc, argv);
    // The name a tray host shows for the tray item (a StatusNotifierItem's Title and Id are Qt's
    // application name), and an X window's class; its instance stays the executable's name.
    QApplication::setApplicationName(AppInfo::title());
    QApplication::setApplicationDisplayName(AppInfo::title());
    QApplication::setApplicationVersion(AppInfo::version());
#ifdef QUORVEL_DESKTOP_FILE_NAME
    QGuiApplication::setDesktopFileName(QStringLiteral(QUORVEL_DESKTOP_FILE_NAME));
#endif
    // One instance per desktop session: a second start hands over to the first and ends.
    SingleInstance instance(AppInfo::applicationId());
    if (instance.claim() == SingleInstance::Start::HandedOver)
        return 0;

    // The scan's threads wait for the next scan without waking up: an idle tray item costs nothing.
    QThreadPool::globalInstance()->setExpiryTimeout(-1);
    // Nor does the pixmap cache's housekeeping: its first entry (a card's shadow, say) sets a
    // timer that wakes the application half a minute later. Nothing here is drawn often enough to
    // gain from the cache; a limit of 0 keeps it empty.
    QPixmapCache::setCacheLimit(0);
    Toolkit::applyApplicationLook();
    // The installed application icon; the drawn drive where the package's icon is not installed.
    QApplication::setWindowIcon(QIcon::fromTheme(AppInfo::iconName(), Toolkit::symbol(QStringLiteral("opticaldiscdrive.fill"))));

    // The host's profile and disk service, decided once: asking the system bus again for each
    // window opened would wait on it on the event loop. The content of the open main window, if
    // any (each opening builds a new one, with models of its own).
    const ModelEnvironment environment = ModelEnvironment::host();
    QPointer<ContentView> content;
    QuorvelNTFSMountApp app(systemNotificationService(), environment, [&content, &environment] {
        content = new ContentView(environment);
        return static_cast<QWidget *>(content.data());
    });
    // As the tray menu's "open the main window" entry does.
    QObject::connect(&instance, &SingleInstance::activationRequested, &app, [&app] {
        app.openWindow(AppInfo::mainWindowIdentifier());
        app.activate();
    });

    // For start-up measurements: one line on standard output once the main window is on screen
    // with its first scan's result.
    if (qEnvironmentVariableIsSet("QUORVEL_STARTUP_MARK")) {
        auto *mark = new StartupMark(app.mainWindow()->window(), content->diskManager(), &app);
        QObject::connect(mark, &StartupMark::reached, [] { writeLogLine(QStringLiteral("startup complete")); });
    }
    return application.exec();
}
