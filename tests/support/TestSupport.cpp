#include "support/TestSupport.h"

#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <unistd.h>

namespace testsupport {

QString buildLibexecDir()
{
    return QStringLiteral(QUORVEL_TEST_BUILD_LIBEXEC);
}

Platform linuxProfile()
{
    return Platform::linux(buildLibexecDir());
}

bool writeScript(const QString &path, const QByteArray &body)
{
    QFile file(path);
    const QByteArray text = "#!/bin/sh\n" + body;
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size() && file.flush()
        && file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

QString realDeviceSkipReason()
{
    if (::geteuid() != 0)
        return QStringLiteral("needs root for loop devices and mounts");
    if (!QFileInfo::exists(QStringLiteral("/dev/loop-control")))
        return QStringLiteral("no /dev/loop-control: loop devices are unavailable");
    if (!QFileInfo::exists(QStringLiteral("/dev/fuse")))
        return QStringLiteral("no /dev/fuse: FUSE is unavailable");
    for (const char *tool : {"mkntfs", "losetup", "sfdisk", "partx", "ntfs-3g"})
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool),
                                           {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin"),
                                            QStringLiteral("/usr/bin"), QStringLiteral("/bin")})
                .isEmpty())
            return QStringLiteral("%1 is not installed").arg(QString::fromLatin1(tool));
    return QString();
}

} // namespace testsupport

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

namespace testsupport {
bool processEventsUntil(const std::function<bool()> &condition, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::usleep(200);
    }
    return true;
}
} // namespace testsupport

#include <gtest/gtest.h>

void testsupport::expectBusyNamingHolders(const std::optional<DiskError> &error, qint64 childPid)
{
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, DiskError::UnmountFailed);
    EXPECT_TRUE(error->description.startsWith("Failed to unmount: ") && error->description.contains("busy"))
        << error->description.toStdString();
    EXPECT_EQ(error->remedy, DiskError::Remedy::Retry);
    for (const QString &entry : {QString("・sleep（PID %1）").arg(childPid),
                                 QString("（PID %1）").arg(QCoreApplication::applicationPid())})
        EXPECT_TRUE(error->explanation.contains(entry)) << error->explanation.toStdString();
}
