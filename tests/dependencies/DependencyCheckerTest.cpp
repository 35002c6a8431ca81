#include "dependencies/DependencyChecker.h"
#include "support/ScriptedFileProbe.h"
#include "support/ScriptedRunner.h"
#include "support/TestSupport.h"

#include <QProcess>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

using Call = ScriptedRunner::Call;
using Kind = ScriptedRunner::Kind;
using S = QStringList;
ShellResult fail(const QString &output = QString(), int code = 1) { return ScriptedRunner::fail(output, code); }

const QString brew = "/opt/homebrew/bin/brew", fuse = "/Library/Filesystems/fuse-t.fs", ntfs = "/usr/local/bin/ntfs-3g";
const QString script = "/Library/Application Support/fuse-t/uninstall.sh";
const QString prepare = "mkdir -p /opt/homebrew && chown -R 'alice':admin /opt/homebrew";
const QString installer = Platform::macOS().homebrewInstallerLine + ' ';
const QString tap = brew + " tap macos-fuse-t/homebrew-cask ", cask = brew + " install --cask fuse-t ",
              formula = brew + " install ntfs-3g-mac ", formulaGone = brew + " uninstall ntfs-3g-mac ";
// Homebrew and the package manager may take long: a run within the install time limit.
Call installRun(const QString &line) { return {Kind::Run, line, CommandRunner::TimeLimit::Install}; }
const QString pBrew = "progress:Homebrewをインストールしているよ（管理者パスワードの入力画面が出たら入力してね）...",
              pTap = "progress:Homebrewのレポジトリ（cask）を追加しているよ...",
              pCask = "progress:fuse-t をインストールしているよ...", pFormula = "progress:ntfs-3g-mac をインストールしているよ...",
              pDone = "progress:すべての依存ツールのインストールが完了したよ！ありちゃん！",
              pScript = "progress:fuse-t をアンインストールしているよ（管理者パスワードの入力画面が出たら入力してね）...",
              pGone = "progress:依存ツールのアンインストールが完了したよ！";

// A checker on scripted commands and paths; every property change is recorded in order as
// "name:value", the status as "status:<Homebrew 0/1><FUSE 0/1>:<ntfs-3g path or ->".
class DependencyCheckerTest : public testing::Test {
protected:
    std::shared_ptr<ScriptedRunner> runner;
    std::shared_ptr<ScriptedFileProbe> files = std::make_shared<ScriptedFileProbe>();
    std::unique_ptr<DependencyChecker> checker;
    S events;

    void make(QSet<QString> existing = {})
    {
        files->existing = existing;
        runner = std::make_shared<ScriptedRunner>();
        checker = std::make_unique<DependencyChecker>(Platform::macOS(), runner, files);
        checker->setLoginName("alice");
        events.clear();
        auto *c = checker.get();
        QObject::connect(c, &DependencyChecker::statusChanged, [this](const DependencyStatus &s) {
            events << QString("status:%1%2:%3").arg(int(s.isHomebrewInstalled)).arg(int(s.isFuseTInstalled)).arg(s.ntfs3gPath.value_or("-"));
        });
        QObject::connect(c, &DependencyChecker::isInstallingChanged, [this](bool v) { events << "installing:" + QString::number(v); });
        QObject::connect(c, &DependencyChecker::isUninstallingChanged, [this](bool v) { events << "uninstalling:" + QString::number(v); });
        QObject::connect(c, &DependencyChecker::installProgressMessageChanged, [this](const QString &v) { events << "progress:" + v; });
        QObject::connect(c, &DependencyChecker::installErrorMessageChanged, [this](const QString &v) { events << "error:" + v; });
    }
    void install() { testsupport::await(checker->installDependencies()); }
    void uninstall() { testsupport::await(checker->uninstallDependencies()); }
    S tail(int n) const { return events.mid(events.size() - n); }
};

TEST_F(DependencyCheckerTest, SetupOnAFreshMachineInstallsHomebrewFirstAndChecksAfterIt)
{
    make();
    const QMap<QString, QString> appears{{installer, brew}, {cask, fuse}, {formula, ntfs}};
    runner->setHandler([&](const Call &call) { // each tool appears once its command ran
        if (appears.contains(call.line))
            files->existing << appears[call.line];
        return std::optional<ShellResult>();
    });
    install();
    EXPECT_EQ(runner->calls(), (QList<Call>{{Kind::Privileged, prepare}, installRun(installer), installRun(tap),
                                            installRun(cask), installRun(formula)}));
    EXPECT_EQ(events, S({"installing:1", "error:", "progress:セットアップを開始するよ...", pBrew, "status:10:-", pTap, pCask,
                         pFormula, pDone, "status:11:" + ntfs, "installing:0"}));

    // The owner reaches chown unchanged through the administrator shell, quotes and all.
    const QString name = "o'brien $(id) \\ \"x\"";
    QProcess sh;
    sh.start("/bin/sh", {"-c", "mkdir() { :; }; chown() { printf %s \"$2\"; }; " + DependencyChecker::directoryPreparationLine(name)});
    ASSERT_TRUE(sh.waitForFinished());
    EXPECT_EQ(QString::fromUtf8(sh.readAllStandardOutput()), name + ":admin");
}

// Only a canceled prompt for the directory stops there; any other failure is the installer's to
// meet, and every end is followed by a fresh check.
TEST_F(DependencyCheckerTest, SetupStopsOnlyWhenTheDirectoryPreparationWasCanceled)
{
    const QString canceled = "管理者権限の取得がキャンセルされたよ。", installFailed = "Homebrewのインストールに失敗したよ。\n";
    const std::pair<ShellResult, QString> cases[] = {
        {fail("execution error: User canceled. (-128)"), canceled},
        {fail("Privileged execution failed: gone", -1), canceled},
        {fail("chown: illegal group name"), installFailed},
        {fail("user canceled"), installFailed},
        {ScriptedRunner::ok("User canceled"), installFailed},
    };
    for (const auto &[prepared, error] : cases) {
        SCOPED_TRACE(prepared.output.toStdString());
        make();
        runner->on(prepare, prepared);
        runner->on(installer, fail());
        install();
        EXPECT_EQ(runner->lines(), error == installFailed ? S({prepare, installer}) : S({prepare}));
        EXPECT_EQ(tail(4), S({pBrew, "error:" + error, "status:00:-", "installing:0"}));
    }
}

TEST_F(DependencyCheckerTest, HomebrewStepsAcceptOnlyTheExactAlreadyDoneWords)
{
    const struct {
        QString line, output, progress, error; // no error: the run went on
    } cases[] = {
        {tap, "Error: already tapped", {}, {}},
        {tap, "Already tapped", pTap, "Homebrew Caskの登録に失敗したよ。\nAlready tapped"},
        {tap, "already installed", pTap, "Homebrew Caskの登録に失敗したよ。\nalready installed"},
        {cask, "Warning: fuse-t is already installed", {}, {}},
        {formula, "", pFormula, "ntfs-3g-mac のインストールに失敗したよ。\n"},
    };
    const S all{tap, cask, formula};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.line.toStdString() + c.output.toStdString());
        make({brew});
        runner->on(c.line, fail(c.output));
        install();
        EXPECT_EQ(runner->lines(), c.error.isEmpty() ? all : all.mid(0, all.indexOf(c.line) + 1));
        EXPECT_EQ(tail(4), c.error.isEmpty() ? S({pFormula, pDone, "status:10:-", "installing:0"})
                                             : S({c.progress, "error:" + c.error, "status:10:-", "installing:0"}));
    }
}

TEST_F(DependencyCheckerTest, SetupStopsWhenTheCheckerGoesMidCommand)
{
    make();
    runner->setAsyncDelay(std::chrono::milliseconds(50));
    auto task = checker->installDependencies();
    QTimer::singleShot(10, [this] { checker.reset(); }); // the event loop runs during the command
    testsupport::await(std::move(task));
    EXPECT_EQ(runner->lines(), S({prepare}));
}

// The formula first, then the FUSE layer's own script; a failed formula removal counts only while
// ntfs-3g is still there, and then the FUSE layer stays. Every end is followed by a fresh check.
TEST_F(DependencyCheckerTest, UninstallRemovesTheFormulaThenTheFuseLayer)
{
    const QString refusal = "Error: Refusing to uninstall /opt/homebrew/Cellar/ntfs-3g-mac because it is required by foo";
    const QString scriptFailed = "error:fuse-tのアンインストールに失敗したよ。\nexecution error: User canceled. (-128)";
    const Call scriptCall{Kind::Privileged, '"' + script + '"', CommandRunner::TimeLimit::Install};
    const struct {
        ShellResult formula, script;
        bool stays; // ntfs-3g is still there after the formula's removal
        QList<Call> calls;
        S rest;
    } cases[] = {
        {fail("Error: No such keg"), ScriptedRunner::ok(), false, {installRun(formulaGone), scriptCall}, {pScript, pGone, "status:11:-"}},
        {ScriptedRunner::ok(), ScriptedRunner::ok(), true, {installRun(formulaGone), scriptCall}, {pScript, pGone, "status:11:" + ntfs}},
        {fail(refusal), ScriptedRunner::ok(), true, {installRun(formulaGone)},
         {"error:ntfs-3g-mac のアンインストールに失敗したよ。\n" + refusal, "status:11:" + ntfs}},
        {ScriptedRunner::ok(), fail("execution error: User canceled. (-128)"), false, {installRun(formulaGone), scriptCall},
         {pScript, scriptFailed, "status:11:-"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.formula.output.toStdString() + c.script.output.toStdString());
        make(c.stays ? QSet<QString>{brew, script, ntfs} : QSet<QString>{brew, script});
        runner->on(formulaGone, c.formula);
        runner->on(scriptCall.line, c.script);
        uninstall();
        EXPECT_EQ(runner->calls(), c.calls);
        EXPECT_EQ(events, S({"uninstalling:1", "error:", "progress:アンインストールを開始するよ...",
                             "progress:ntfs-3g-mac をアンインストールしているよ..."}) + c.rest + S({"uninstalling:0"}));
    }
}

TEST_F(DependencyCheckerTest, SetupAndUninstallRefuseToStartWhileEitherRuns)
{
    for (const bool setupFirst : {true, false}) {
        SCOPED_TRACE(setupFirst ? "setup first" : "uninstall first");
        make({brew, fuse, ntfs});
        runner->setAsyncDelay(std::chrono::milliseconds(20));
        auto running = setupFirst ? checker->installDependencies() : checker->uninstallDependencies();
        const S before = events;
        auto setup = checker->installDependencies();
        auto removal = checker->uninstallDependencies();
        EXPECT_TRUE(setup.isReady() && removal.isReady());
        EXPECT_EQ(events, before);
        testsupport::await(std::move(running));
        EXPECT_EQ(runner->lines(), setupFirst ? S({tap, cask, formula}) : S({formulaGone, brew + " uninstall --cask fuse-t "}));
    }
}

} // namespace
