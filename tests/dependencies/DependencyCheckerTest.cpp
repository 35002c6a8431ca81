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

    void make(QSet<QString> existing = {}, bool removalMayBeRefused = false)
    {
        Platform platform = Platform::macOS();
        platform.ntfs3gRemovalMayBeRefused = removalMayBeRefused;
        files->existing = existing;
        runner = std::make_shared<ScriptedRunner>();
        runner->setAsyncDelay(std::chrono::milliseconds(1)); // so that a run is under way once started
        checker = std::make_unique<DependencyChecker>(platform, runner, files);
        ASSERT_TRUE(testsupport::processEventsUntil([this] { return checker->isChecked(); }));
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
    // Runs `operation`, asking for both meanwhile: one at a time, neither starts (every test then
    // sees only the calls and changes of `operation`).
    void runAlone(QCoro::Task<> operation)
    {
        auto setup = checker->installDependencies();
        auto removal = checker->uninstallDependencies();
        EXPECT_TRUE(setup.isReady() && removal.isReady());
        testsupport::await(std::move(operation));
    }
};

TEST_F(DependencyCheckerTest, SetupOnAFreshMachineInstallsHomebrewFirstChecksAfterItAndStopsWithTheChecker)
{
    make();
    const QMap<QString, QString> appears{{installer, brew}, {cask, fuse}, {formula, ntfs}};
    runner->setHandler([&](const Call &call) { // each tool appears once its command ran
        if (appears.contains(call.line))
            files->existing << appears[call.line];
        return std::optional<ShellResult>();
    });
    runAlone(checker->installDependencies());
    EXPECT_EQ(runner->calls(), (QList<Call>{{Kind::Privileged, prepare}, installRun(installer), installRun(tap),
                                            installRun(cask), installRun(formula)}));
    EXPECT_EQ(events, S({"installing:1", "error:", "progress:セットアップを開始するよ...", pBrew, "status:10:-", pTap, pCask,
                         pFormula, pDone, "status:11:" + ntfs, "installing:0"}));

    // The event loop runs during a command; a checker that goes meanwhile stops the setup there.
    make();
    runner->setAsyncDelay(std::chrono::milliseconds(50));
    auto task = checker->installDependencies();
    QTimer::singleShot(10, [this] { checker.reset(); });
    testsupport::await(std::move(task));
    EXPECT_EQ(runner->lines(), S({prepare}));
}

// Only a canceled prompt for the directory stops the setup there (any other failure is the
// installer's to meet); a Homebrew step goes on past a failure only on its exact "already" words.
// Every end is followed by a fresh check.
TEST_F(DependencyCheckerTest, SetupStopsOnACanceledPromptOrAFailedStepOnly)
{
    const QString canceled = "error:管理者権限の取得がキャンセルされたよ。", noBrew = "error:Homebrewのインストールに失敗したよ。\n",
                  noTap = "error:Homebrew Caskの登録に失敗したよ。\n";
    const S fresh{"status:00:-", "installing:0"}, brewed{"status:10:-", "installing:0"}, all{tap, cask, formula};
    const struct {
        bool homebrew;
        QString line;
        ShellResult result;
        S lines, tail;
    } rows[] = {
        {false, prepare, fail("execution error: User canceled. (-128)"), {prepare}, S{pBrew, canceled} + fresh},
        {false, prepare, fail("Privileged execution failed: gone", -1), {prepare}, S{pBrew, canceled} + fresh},
        {false, prepare, fail("user canceled"), {prepare, installer}, S{pBrew, noBrew} + fresh},
        {false, prepare, ScriptedRunner::ok("User canceled"), {prepare, installer}, S{pBrew, noBrew} + fresh},
        {true, tap, fail("Error: already tapped"), all, S{pFormula, pDone} + brewed},
        {true, tap, fail("Already tapped"), {tap}, S{pTap, noTap + "Already tapped"} + brewed},
        {true, tap, fail("already installed"), {tap}, S{pTap, noTap + "already installed"} + brewed},
        {true, cask, fail("Warning: fuse-t is already installed"), all, S{pFormula, pDone} + brewed},
        {true, formula, fail(), all, S{pFormula, "error:ntfs-3g-mac のインストールに失敗したよ。\n"} + brewed},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.line.toStdString() + row.result.output.toStdString());
        make(row.homebrew ? QSet<QString>{brew} : QSet<QString>{});
        runner->on(row.line, row.result);
        runner->on(installer, fail());
        runAlone(checker->installDependencies());
        EXPECT_EQ(runner->lines(), row.lines);
        EXPECT_EQ(events.mid(events.size() - 4), row.tail);
    }
}

// The formula first, then the FUSE layer's own script; a failed formula removal is only logged,
// unless the package manager may refuse (the Linux stand-in keeps what other packages need): a
// refusal that leaves ntfs-3g then ends the run, and the FUSE layer stays. Every end is followed by
// a fresh check.
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
        bool refusable = false; // the package manager may refuse, as the Linux stand-in does
    } cases[] = {
        {fail("Error: No such keg"), ScriptedRunner::ok(), false, {installRun(formulaGone), scriptCall}, {pScript, pGone, "status:11:-"}},
        {ScriptedRunner::ok(), ScriptedRunner::ok(), true, {installRun(formulaGone), scriptCall}, {pScript, pGone, "status:11:" + ntfs}},
        {fail(refusal), ScriptedRunner::ok(), true, {installRun(formulaGone), scriptCall}, {pScript, pGone, "status:11:" + ntfs}},
        {fail(refusal), ScriptedRunner::ok(), true, {installRun(formulaGone)},
         {"error:ntfs-3g-mac のアンインストールに失敗したよ。\n" + refusal, "status:11:" + ntfs}, true},
        {ScriptedRunner::ok(), fail("execution error: User canceled. (-128)"), false, {installRun(formulaGone), scriptCall},
         {pScript, scriptFailed, "status:11:-"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.formula.output.toStdString() + c.script.output.toStdString());
        make(c.stays ? QSet<QString>{brew, script, ntfs} : QSet<QString>{brew, script}, c.refusable);
        runner->on(formulaGone, c.formula);
        runner->on(scriptCall.line, c.script);
        runAlone(checker->uninstallDependencies());
        EXPECT_EQ(runner->calls(), c.calls);
        EXPECT_EQ(events, S({"uninstalling:1", "error:", "progress:アンインストールを開始するよ...",
                             "progress:ntfs-3g-mac をアンインストールしているよ..."}) + c.rest + S({"uninstalling:0"}));
    }
}

} // namespace

// The account name reaches chown unchanged through the administrator shell, quotes and all.
TEST(DirectoryPreparation, TheOwnerReachesChownAsOneWordUnchanged)
{
    const QString name = "o'brien $(id) \\ \"x\"";
    QProcess sh;
    sh.start("/bin/sh", {"-c", "mkdir() { :; }; chown() { printf %s \"$2\"; }; " + DependencyChecker::directoryPreparationLine(name)});
    ASSERT_TRUE(sh.waitForFinished());
    EXPECT_EQ(QString::fromUtf8(sh.readAllStandardOutput()), name + ":admin");
}
