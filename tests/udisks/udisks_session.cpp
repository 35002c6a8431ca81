// The disk model as an ordinary desktop user runs it, for the tests that run as root: one process
// for all of its commands (polkit keeps an authorisation for the process that gained it). Each
// line of standard input, "mount NODE", "mount-ro NODE" (read-only) or "unmount NODE", is
// answered with one line of JSON: the error's code, remedy, description and explanation where
// the operation failed, else the disk's mountPoint and writable after the rescan.
#include "disks/DiskManager.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <iostream>
#include <string>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    ModelEnvironment environment = ModelEnvironment::host();
    environment.platform.opener = QStringLiteral("/bin/true"); // no file browser here
    // This copy runs outside the build tree, whose reader the test's polkitd knows.
    environment.platform.volumeStateReader = QStringLiteral(QUORVEL_TEST_BUILD_LIBEXEC "/volume-state");
    DiskManager manager(environment);
    const QString ntfs3g = QStringLiteral("/usr/bin/ntfs-3g");
    for (std::string line; std::getline(std::cin, line);) {
        const QStringList words = QString::fromStdString(line).split(QLatin1Char(' '));
        const auto find = [&] { return std::ranges::find(manager.disks(), words.value(1), &NTFSDisk::deviceNode); };
        testsupport::await(manager.scanDisks());
        std::optional<DiskError> error = DiskError{DiskError::MountFailed, QStringLiteral("no disk ") + words.value(1)};
        if (const auto disk = find(); disk != manager.disks().end())
            error = testsupport::await(words[0] == QLatin1String("mount")      ? manager.mountReadWrite(*disk, ntfs3g)
                                       : words[0] == QLatin1String("mount-ro") ? manager.mountReadOnly(*disk, ntfs3g)
                                                                               : manager.unmount(*disk));
        QJsonObject answer;
        if (error)
            answer = {{"code", int(error->code)}, {"remedy", int(error->remedy)},
                      {"description", error->description}, {"explanation", error->explanation}};
        else if (const auto disk = find(); disk != manager.disks().end()) // the rescan may have found it gone
            answer = {{"mountPoint", disk->mountPoint.value_or(QString())}, {"writable", disk->isWritable}};
        std::cout << QJsonDocument(answer).toJson(QJsonDocument::Compact).toStdString() << std::endl;
    }
}
