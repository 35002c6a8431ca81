#include "dependencies/DependencyChecker.h"

#include <pwd.h>
#include <unistd.h>

#include <utility>

DependencyChecker::DependencyChecker(Platform platform, std::shared_ptr<CommandRunner> runner,
                                     std::shared_ptr<FileProbe> files, QObject *parent)
    : QObject(parent)
    , m_platform(std::move(platform))
    , m_runner(std::move(runner))
    , m_files(std::move(files))
    , m_loginName(currentLoginName())
{
    checkDependencies();
}

QString DependencyChecker::currentLoginName()
{
    if (const passwd *pw = ::getpwuid(::getuid()); pw && pw->pw_name && *pw->pw_name)
        return QString::fromLocal8Bit(pw->pw_name);
    return qEnvironmentVariable("USER");
}

QString DependencyChecker::directoryPreparationLine(const QString &loginName)
{
    // The line runs in the administrator shell, where $(whoami) would name root: the owner
    // is spelt out, single-quoted so that no character of the name means anything to the shell.
    QString quoted = loginName;
    quoted.replace(QLatin1Char('\''), QLatin1String("'\\''"));
    return QStringLiteral("mkdir -p /opt/homebrew && chown -R '") + quoted
        + QStringLiteral("':admin /opt/homebrew");
}

std::optional<QString> DependencyChecker::firstExisting(const QStringList &paths) const
{
    for (const QString &path : paths)
        if (m_files->exists(path))
            return path;
    return std::nullopt;
}

void DependencyChecker::checkDependencies()
{
    DependencyStatus next;
    next.isHomebrewInstalled = firstExisting(m_platform.homebrewPaths).has_value();
    next.isFuseTInstalled = firstExisting(m_platform.fuseMarkerPaths).has_value();
    // Where the system's mount reaches ntfs-3g only through its helper (the disk service mounts
    // that way), ntfs-3g without the helper counts as missing: the kernel's driver would answer.
    if (m_platform.ntfs3gMountHelperPaths.isEmpty() || firstExisting(m_platform.ntfs3gMountHelperPaths))
        next.ntfs3gPath = firstExisting(m_platform.ntfs3gPaths);
    setStatus(next);
}

const Platform::Words &DependencyChecker::words(const DependencyChecker *checker)
{
    static const Platform::Words host = Platform::host().words;
    return checker ? checker->platform().words : host;
}

std::optional<QString> DependencyChecker::findBrewPath() const
{
    return firstExisting(m_platform.homebrewPaths);
}

void DependencyChecker::setStatus(const DependencyStatus &status)
{
    m_status = status;
    Q_EMIT statusChanged(m_status);
}

void DependencyChecker::setIsInstalling(bool value)
{
    m_isInstalling = value;
    Q_EMIT isInstallingChanged(m_isInstalling);
}

void DependencyChecker::setIsUninstalling(bool value)
{
    m_isUninstalling = value;
    Q_EMIT isUninstallingChanged(m_isUninstalling);
}

void DependencyChecker::setInstallProgressMessage(const QString &message)
{
    m_installProgressMessage = message;
    Q_EMIT installProgressMessageChanged(m_installProgressMessage);
}

void DependencyChecker::setInstallErrorMessage(const QString &message)
{
    m_installErrorMessage = message;
    Q_EMIT installErrorMessageChanged(m_installErrorMessage);
}
