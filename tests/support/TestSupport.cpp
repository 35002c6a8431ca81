#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <unistd.h>

namespace testsupport {

Platform linuxProfile()
{
    return Platform::linux(QStringLiteral(QUORVEL_TEST_BUILD_LIBEXEC));
}

QString realDeviceSkipReason()
{
    if (::geteuid() != 0)
        return QStringLiteral("needs root for loop devices and mounts");
    for (const char *device : {"/dev/loop-control", "/dev/fuse"})
        if (!QFileInfo::exists(QString::fromLatin1(device)))
            return QStringLiteral("no %1: loop devices or FUSE are unavailable").arg(QString::fromLatin1(device));
    for (const char *tool : {"mkntfs", "losetup", "sfdisk", "partx", "ntfs-3g"})
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool), {"/usr/sbin", "/sbin", "/usr/bin", "/bin"}).isEmpty())
            return QStringLiteral("%1 is not installed").arg(QString::fromLatin1(tool));
    return QString();
}

void expectBusyNamingHolders(const std::optional<DiskError> &error, qint64 childPid)
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

} // namespace testsupport
