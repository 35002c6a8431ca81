// The setup and uninstall sequences of DependencyChecker. Each command is awaited, so the event
// loop keeps drawing while Homebrew works; the checker may be destroyed meanwhile, and then the
// sequence simply stops.

#include "dependencies/DependencyChecker.h"
#include "shell/Log.h"

#include <QPointer>

namespace {

using TimeLimit = CommandRunner::TimeLimit;

// One Homebrew command of the setup, run after Homebrew itself is in place.
struct BrewStep {
    QString progress;
    QString arguments;    // appended to the Homebrew path; begins with a space
    QString acceptedText; // a failure whose output contains this counts as done
    QString errorPrefix;
};

// The texts that name a tool, with the profile's name for it. (Built outside the coroutines: GCC 12
// cannot keep string literals alive across a suspension point in the same expression.)
QString installingWithPrompt(const QString &tool)
{
    return tool + QStringLiteral("をインストールしているよ（管理者パスワードの入力画面が出たら入力してね）...");
}
QString installing(const QString &tool)
{
    return tool + QStringLiteral(" をインストールしているよ...");
}
QString installFailed(const QString &tool, const QString &separator = QStringLiteral(" "))
{
    return tool + separator + QStringLiteral("のインストールに失敗したよ。\n");
}
QString missingAfterInstall(const QString &tool)
{
    return tool + QStringLiteral("がインストールされたはずなのに、パスが見つからないよ。");
}
QString uninstalling(const QString &tool)
{
    return tool + QStringLiteral(" をアンインストールしているよ...");
}
QString uninstallingWithPrompt(const QString &tool)
{
    return tool + QStringLiteral(" をアンインストールしているよ（管理者パスワードの入力画面が出たら入力してね）...");
}
QString uninstallFailed(const QString &tool, const QString &separator = QStringLiteral(" "))
{
    return tool + separator + QStringLiteral("のアンインストールに失敗したよ。\n");
}

} // namespace

QCoro::Task<> DependencyChecker::installDependencies()
{
    if (m_isInstalling || m_isUninstalling)
        co_return;
    QPointer<DependencyChecker> self(this);
    setIsInstalling(true);
    co_await installSteps();
    if (!self)
        co_return;
    // However far the steps got, the status shows what is there now.
    co_await checkDependencies();
    if (self)
        setIsInstalling(false);
}

QCoro::Task<> DependencyChecker::installSteps()
{
    QPointer<DependencyChecker> self(this);
    // Our own reference: the runner must outlive a command even when the checker does not.
    const std::shared_ptr<CommandRunner> runner = m_runner;
    const Platform::Words &words = m_platform.words;

    setInstallErrorMessage(QString());
    setInstallProgressMessage(QStringLiteral("セットアップを開始するよ..."));

    // Decided on the last check, not probed again here. A platform without a Homebrew
    // installer skips straight to the path lookup, which reports what is missing.
    if (!m_status.isHomebrewInstalled && !m_platform.homebrewInstallerLine.isEmpty()) {
        setInstallProgressMessage(installingWithPrompt(words.packageManager));
        const ShellResult prepared =
            co_await runner->runPrivilegedAsync(directoryPreparationLine(m_loginName));
        if (!self)
            co_return;
        if (!prepared.isSuccess
            && (prepared.output.contains(QStringLiteral("User canceled")) || prepared.exitCode == -1)) {
            setInstallErrorMessage(QStringLiteral("管理者権限の取得がキャンセルされたよ。"));
            co_return;
        }
        // Any other failure of the preparation is left for the installer to trip over.

        const ShellResult installed =
            co_await runner->runAsync(m_platform.homebrewInstallerLine, {}, TimeLimit::Install);
        if (!self)
            co_return;
        if (!installed.isSuccess) {
            setInstallErrorMessage(installFailed(words.packageManager, QString()) + installed.output);
            co_return;
        }
        co_await checkDependencies();
        if (!self)
            co_return;
    }

    const std::optional<QString> brew = co_await findBrewPath();
    if (!self)
        co_return;
    if (!brew) {
        setInstallErrorMessage(missingAfterInstall(words.packageManager));
        co_return;
    }

    const BrewStep steps[] = {
        {words.addingRepository, QStringLiteral(" tap macos-fuse-t/homebrew-cask"), QStringLiteral("already tapped"),
         words.addingRepositoryFailed},
        {installing(words.fuseLayer), QStringLiteral(" install --cask fuse-t"), QStringLiteral("already installed"),
         installFailed(words.fuseLayer)},
        {installing(words.ntfs3g), QStringLiteral(" install ntfs-3g-mac"), QStringLiteral("already installed"),
         installFailed(words.ntfs3g)},
    };
    for (const BrewStep &step : steps) {
        setInstallProgressMessage(step.progress);
        const ShellResult result = co_await runner->runAsync(CommandRunner::shellWord(*brew) + step.arguments, {}, TimeLimit::Install);
        if (!self)
            co_return;
        // Only a failed result is searched; the search is case-sensitive.
        if (!result.isSuccess && !result.output.contains(step.acceptedText)) {
            setInstallErrorMessage(step.errorPrefix + result.output);
            co_return;
        }
    }

    setInstallProgressMessage(QStringLiteral("すべての依存ツールのインストールが完了したよ！ありちゃん！"));
}

QCoro::Task<> DependencyChecker::uninstallDependencies()
{
    if (m_isInstalling || m_isUninstalling)
        co_return;
    QPointer<DependencyChecker> self(this);
    setIsUninstalling(true);
    co_await uninstallSteps();
    if (!self)
        co_return;
    co_await checkDependencies();
    if (self)
        setIsUninstalling(false);
}

QCoro::Task<> DependencyChecker::uninstallSteps()
{
    QPointer<DependencyChecker> self(this);
    const std::shared_ptr<CommandRunner> runner = m_runner;
    const Platform::Words &words = m_platform.words;

    setInstallErrorMessage(QString());
    setInstallProgressMessage(QStringLiteral("アンインストールを開始するよ..."));

    // Homebrew is looked for once: the run removes neither it nor its place. ntfs-3g-mac goes
    // first; its failure is logged and the run goes on. Where the package manager may refuse (the
    // Linux stand-in will not take this application's package along), a refusal that leaves
    // ntfs-3g ends the run, which is then no success.
    const std::optional<QString> brew = co_await findBrewPath();
    if (!self)
        co_return;
    if (brew) {
        setInstallProgressMessage(uninstalling(words.ntfs3g));
        const ShellResult removed =
            co_await runner->runAsync(CommandRunner::shellWord(*brew) + QStringLiteral(" uninstall ntfs-3g-mac"), {}, TimeLimit::Install);
        writeLogLine(QStringLiteral("ntfs-3g-mac uninstall result: ") + removed.output);
        if (!self)
            co_return;
        if (!removed.isSuccess && m_platform.ntfs3gRemovalMayBeRefused) {
            const std::optional<QString> left = co_await firstExisting(m_platform.ntfs3gPaths);
            if (!self)
                co_return;
            if (left) {
                setInstallErrorMessage(uninstallFailed(words.ntfs3g) + removed.output);
                co_return;
            }
        }
    }

    // The FUSE layer's own uninstall script wins over Homebrew; of the two, only it can fail the run.
    const QString script = m_platform.fuseUninstallScript;
    const QStringList scripts = script.isEmpty() ? QStringList() : QStringList{script};
    const std::optional<QString> scriptFound = co_await firstExisting(scripts);
    if (!self)
        co_return;
    if (scriptFound) {
        setInstallProgressMessage(uninstallingWithPrompt(words.fuseLayer));
        // Quoted: the path holds a blank.
        const ShellResult removed = co_await runner->runPrivilegedAsync(QLatin1Char('"') + script + QLatin1Char('"'),
                                                                        TimeLimit::Install);
        if (!self)
            co_return;
        if (!removed.isSuccess) {
            setInstallErrorMessage(uninstallFailed(words.fuseLayer, QString()) + removed.output);
            co_return;
        }
    } else if (brew) {
        setInstallProgressMessage(words.removingFuseLayer);
        const ShellResult removed =
            co_await runner->runAsync(CommandRunner::shellWord(*brew) + QStringLiteral(" uninstall --cask fuse-t"), {}, TimeLimit::Install);
        writeLogLine(QStringLiteral("fuse-t brew uninstall result: ") + removed.output);
        if (!self)
            co_return;
    }

    setInstallProgressMessage(QStringLiteral("依存ツールのアンインストールが完了したよ！"));
}
