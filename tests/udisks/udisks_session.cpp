// The disk model as an ordinary desktop user runs it, for the tests that run as root: one process
// for all of its commands (polkit keeps an authorisation for the process that gained it). Each
// line of standard input is answered with one line:
//   mount NODE            ok | error CODE DESCRIPTION
//   unmount NODE          ok | error CODE DESCRIPTION
//   write NODE NAME TEXT  ok PATH | error …     (into the volume's mount directory)
#include "disks/DiskManager.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QFile>

#include <iostream>
#include <string>

namespace {

std::optional<NTFSDisk> find(const DiskManager &manager, const QString &node)
{
    for (const NTFSDisk &disk : manager.disks())
        if (disk.deviceNode == node)
            return disk;
    return std::nullopt;
}

QString outcome(const std::optional<DiskError> &error)
{
    return error ? QStringLiteral("error %1 %2").arg(int(error->code)).arg(error->description) : QStringLiteral("ok");
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    ModelEnvironment environment = ModelEnvironment::host();
    environment.platform.opener = QStringLiteral("/bin/true"); // no file browser here
    if (!environment.diskServiceBus) {
        std::cout << "error no udisks2 on the system bus" << std::endl;
        return 1;
    }
    DiskManager manager(environment);
    testsupport::await(manager.scanDisks());

    for (std::string line; std::getline(std::cin, line);) {
        const QStringList words = QString::fromStdString(line).split(QLatin1Char(' '));
        const std::optional<NTFSDisk> disk = find(manager, words.value(1));
        QString answer;
        if (!disk)
            answer = QStringLiteral("error no disk ") + words.value(1);
        else if (words[0] == QLatin1String("mount"))
            answer = outcome(testsupport::await(manager.mountReadWrite(*disk, QStringLiteral("/usr/bin/ntfs-3g"))));
        else if (words[0] == QLatin1String("unmount"))
            answer = outcome(testsupport::await(manager.unmount(*disk)));
        else if (words[0] == QLatin1String("write") && disk->mountPoint) {
            QFile file(*disk->mountPoint + QLatin1Char('/') + words.value(2));
            answer = file.open(QIODevice::WriteOnly) && file.write(words.value(3).toUtf8()) >= 0 && file.flush()
                ? QStringLiteral("ok ") + file.fileName()
                : QStringLiteral("error ") + file.errorString();
        } else
            answer = QStringLiteral("error cannot ") + QString::fromStdString(line);
        std::cout << answer.toStdString() << std::endl;
    }
    return 0;
}
