// Scans once with the host's profile and prints every NTFS partition found.
#include "disks/DiskManager.h"

#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    DiskManager manager;
    QObject::connect(&manager, &DiskManager::isScanningChanged, &app, [&] {
        if (manager.isScanning())
            return;
        QTextStream out(stdout);
        if (manager.disks().isEmpty())
            out << "No NTFS partitions found.\n";
        for (const NTFSDisk &disk : manager.disks()) {
            out << disk.devicePath() << "  " << disk.volumeName << "  " << disk.formattedSize() << "  "
                << (disk.mountPoint ? (*disk.mountPoint + (disk.isWritable ? " (writable)" : " (read-only)"))
                                    : QStringLiteral("not mounted"))
                << "\n";
        }
        out.flush();
        app.quit();
    });
    return app.exec();
}
