// The disk model as an ordinary desktop user runs it, for the tests that run as root: one process
// for all of its commands (polkit keeps an authorisation for the process that gained it). Each
// line of standard input, "mount NODE" or "unmount NODE", is answered with one line: "ok" (after
// a mount "ok DIRECTORY") or "error CODE DESCRIPTION".
#include "disks/DiskManager.h"
#include "support/TestSupport.h"

#include <QCoreApplication>

#include <algorithm>
#include <iostream>
#include <string>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    ModelEnvironment environment = ModelEnvironment::host();
    environment.platform.opener = QStringLiteral("/bin/true"); // no file browser here
    DiskManager manager(environment);
    for (std::string line; std::getline(std::cin, line);) {
        const QStringList words = QString::fromStdString(line).split(QLatin1Char(' '));
        const auto find = [&] { return std::ranges::find(manager.disks(), words.value(1), &NTFSDisk::deviceNode); };
        const auto mountPoint = [&] { // after the operation's rescan, which may have found the disk gone
            const auto disk = find();
            return disk == manager.disks().end() ? QString() : disk->mountPoint.value_or(QString());
        };
        testsupport::await(manager.scanDisks());
        std::optional<DiskError> error = DiskError{DiskError::MountFailed, QStringLiteral("no disk ") + words.value(1)};
        if (const auto disk = find(); disk != manager.disks().end())
            error = testsupport::await(words[0] == QLatin1String("mount")
                                           ? manager.mountReadWrite(*disk, QStringLiteral("/usr/bin/ntfs-3g"))
                                           : manager.unmount(*disk));
        const QString answer = error ? QStringLiteral("error %1 %2").arg(int(error->code)).arg(error->description)
                                     : QStringLiteral("ok ") + mountPoint();
        std::cout << answer.trimmed().toStdString() << std::endl;
    }
    return 0;
}
