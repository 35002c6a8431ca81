#include "dependencies/DependencyChecker.h"
#include "shell/OffEventLoop.h"

#include <QPointer>

#include <pwd.h>
#include <unistd.h>

#include <utility>

namespace {

std::optional<QString> firstOf(const FileProbe &files, const QStringList &paths)
{
    for (const QString &path : paths)
        if (files.exists(path))
            return path;
    return std::nullopt;
}

// What `platform`'s paths tell now.
DependencyStatus probe(const Platform &platform, const FileProbe &files)
{
    DependencyStatus found;
    found.isHomebrewInstalled = firstOf(files, platform.homebrewPaths).has_value();
    found.isFuseTInstalled = firstOf(files, platform.fuseMarkerPaths).has_value();
    // Where the system's mount reaches ntfs-3g only through its helper (the disk service mounts
    // that way), ntfs-3g without the helper counts as missing: the kernel's driver would answer.
    if (platform.ntfs3gMountHelperPaths.isEmpty() || firstOf(files, platform.ntfs3gMountHelperPaths))
        found.ntfs3gPath = firstOf(files, platform.ntfs3gPaths);
    return found;
}

} // namespace

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

QCoro::Task<std::optional<QString>> DependencyChecker::firstExisting(QStringList paths) const
{
    auto look = offloop::run(paths.join(QStringLiteral(", ")), [files = m_files, paths] { return firstOf(*files, paths); },
                             std::optional<QString>());
    co_return co_await look;
}

QCoro::Task<> DependencyChecker::checkDependencies()
{
    QPointer<DependencyChecker> self(this);
    const quint64 asked = ++m_checks;
    // Copies of what the probe reads: the checker may be destroyed while it runs.
    auto look = offloop::run(QStringLiteral("the prerequisites' paths"),
                             [platform = m_platform, files = m_files] { return probe(platform, *files); }, m_status);
    const DependencyStatus found = co_await look;
    if (self && asked == m_checks)
        setStatus(found);
}

const Platform::Words &DependencyChecker::words(const DependencyChecker *checker)
{
    static const Platform::Words host = Platform::host().words;
    return checker ? checker->platform().words : host;
}

QCoro::Task<std::optional<QString>> DependencyChecker::findBrewPath() const
{
    return firstExisting(m_platform.homebrewPaths);
}

void DependencyChecker::setStatus(const DependencyStatus &status)
{
    m_status = status;
    m_isChecked = true;
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
