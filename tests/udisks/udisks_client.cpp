// What the harness test runs as the throw-away account: one process for all its commands,
// because without a login session polkit keeps an authorization for the process that gained it.
// Each line of standard input is answered with one line:
//   mount DEVICE        mounted PATH | error NAME: MESSAGE
//   unmount DEVICE      unmounted | error NAME: MESSAGE
//   run PROGRAM ARG...  exit CODE (the program is our child, so polkit asks about us)
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QProcess>

#include <iostream>
#include <string>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    for (std::string line; std::getline(std::cin, line);) {
        const QStringList words = QString::fromStdString(line).split(QLatin1Char(' '), Qt::SkipEmptyParts);
        const QString verb = words.value(0);
        if (verb == QLatin1String("run")) {
            QProcess child;
            child.start(words.value(1), words.mid(2));
            child.waitForFinished(120000);
            std::cout << "exit " << (child.exitStatus() == QProcess::NormalExit ? child.exitCode() : -1) << std::endl;
            continue;
        }
        QDBusMessage call = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.UDisks2"),
            QStringLiteral("/org/freedesktop/UDisks2/block_devices/") + words.value(1).section(QLatin1Char('/'), -1),
            QStringLiteral("org.freedesktop.UDisks2.Filesystem"),
            verb == QLatin1String("mount") ? QStringLiteral("Mount") : QStringLiteral("Unmount"));
        call << QVariantMap(); // udisks2 lets polkit ask for a password unless told otherwise
        const QDBusMessage reply = QDBusConnection::systemBus().call(call, QDBus::Block, 120000);
        if (reply.type() == QDBusMessage::ErrorMessage)
            std::cout << "error " << reply.errorName().toStdString() << ": " << reply.errorMessage().toStdString();
        else if (verb == QLatin1String("mount"))
            std::cout << "mounted " << reply.arguments().value(0).toString().toStdString();
        else
            std::cout << "unmounted";
        std::cout << std::endl;
    }
    return 0;
}
