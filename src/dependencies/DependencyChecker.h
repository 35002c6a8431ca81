#pragma once

#include "dependencies/DependencyStatus.h"
#include "platform/Platform.h"
#include "shell/CommandRunner.h"
#include "shell/FileProbe.h"

#include <QCoro/QCoroTask>
#include <QObject>
#include <QString>

#include <memory>
#include <optional>

// Knows which prerequisites (Homebrew, the FUSE layer, ntfs-3g) are present, and installs or
// removes them. Lives on the main thread; each property's change signal follows every
// assignment, also when the value stays the same. Every look at a path is made on a worker: a
// path may lie on a disk that hangs.
class DependencyChecker : public QObject {
    Q_OBJECT
    Q_PROPERTY(DependencyStatus status READ status NOTIFY statusChanged)
    Q_PROPERTY(bool isInstalling READ isInstalling NOTIFY isInstallingChanged)
    Q_PROPERTY(bool isUninstalling READ isUninstalling NOTIFY isUninstallingChanged)
    Q_PROPERTY(QString installProgressMessage READ installProgressMessage NOTIFY installProgressMessageChanged)
    Q_PROPERTY(QString installErrorMessage READ installErrorMessage NOTIFY installErrorMessageChanged)
    Q_PROPERTY(QString setupInstructions READ setupInstructions CONSTANT)

public:
    // Starts the first check. Until it has answered, the status says nothing is installed and
    // isChecked is false.
    DependencyChecker(Platform platform, std::shared_ptr<CommandRunner> runner,
                      std::shared_ptr<FileProbe> files, QObject *parent = nullptr);

    // The profile it checks and installs for; its `words` name the tools for the views.
    const Platform &platform() const { return m_platform; }
    // How the texts name the platform's tools: `checker`'s, or the host's when there is none.
    static const Platform::Words &words(const DependencyChecker *checker);

    DependencyStatus status() const { return m_status; }
    // A check has published its status.
    bool isChecked() const { return m_isChecked; }
    bool isInstalling() const { return m_isInstalling; }
    bool isUninstalling() const { return m_isUninstalling; }
    QString installProgressMessage() const { return m_installProgressMessage; }
    QString installErrorMessage() const { return m_installErrorMessage; }
    QString setupInstructions() const { return m_platform.words.setupInstructions; }

    // The account that owns the Homebrew prefix the setup prepares. Defaults to the login
    // name of the user running the application.
    QString loginName() const { return m_loginName; }
    void setLoginName(const QString &name) { m_loginName = name; }
    static QString currentLoginName();

    // The administrator line that creates the Homebrew prefix and hands it to `loginName`.
    static QString directoryPreparationLine(const QString &loginName);

    // Probes the profile's paths off the event loop and publishes one new status: of checks that
    // overlap, only the last asked for; a probe that runs out of time leaves the status as it was.
    QCoro::Task<> checkDependencies();
    // The first Homebrew executable that exists now (regardless of the last check).
    QCoro::Task<std::optional<QString>> findBrewPath() const;

    // Installs Homebrew when the last check found none, then the FUSE layer and ntfs-3g.
    // Both runs check the status again when they end, however they end. Neither starts while
    // either runs: they would write the same messages and drive the package manager at once. A
    // refused call returns at once and changes nothing.
    QCoro::Task<> installDependencies();
    // Removes ntfs-3g and the FUSE layer (not Homebrew).
    QCoro::Task<> uninstallDependencies();

Q_SIGNALS:
    void statusChanged(const DependencyStatus &status);
    void isInstallingChanged(bool isInstalling);
    void isUninstallingChanged(bool isUninstalling);
    void installProgressMessageChanged(const QString &message);
    void installErrorMessageChanged(const QString &message);

private:
    QCoro::Task<> installSteps();
    QCoro::Task<> uninstallSteps();

    // The first of `paths` that exists, looked for off the event loop; none when the look runs out of time.
    QCoro::Task<std::optional<QString>> firstExisting(QStringList paths) const;

    void setStatus(const DependencyStatus &status);
    void setIsInstalling(bool value);
    void setIsUninstalling(bool value);
    void setInstallProgressMessage(const QString &message);
    void setInstallErrorMessage(const QString &message);

    Platform m_platform;
    std::shared_ptr<CommandRunner> m_runner;
    std::shared_ptr<FileProbe> m_files;
    QString m_loginName;

    DependencyStatus m_status;
    quint64 m_checks = 0; // checks asked for so far
    bool m_isChecked = false;
    bool m_isInstalling = false;
    bool m_isUninstalling = false;
    QString m_installProgressMessage;
    QString m_installErrorMessage;
};
