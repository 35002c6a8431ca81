#include "dependencies/DependencyChecker.h"
#include "support/ScriptedFileProbe.h"
#include "support/ScriptedRunner.h"
#include "support/TestSupport.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

using Call = ScriptedRunner::Call;
using Kind = ScriptedRunner::Kind;
using S = QStringList;
using namespace std::chrono_literals;

const QString brew = "/opt/homebrew/bin/brew", fuse = "/Library/Filesystems/fuse-t.fs", ntfs = "/usr/local/bin/ntfs-3g";
const QString script = "/Library/Application Support/fuse-t/uninstall.sh", scriptLine = '"' + script + '"';
const QString prepare = "mkdir -p /opt/homebrew && chown -R 'alice':admin /opt/homebrew";
const QString installer = Platform::macOS().homebrewInstallerLine + ' ';
QString brewLine(const QString &args, const QString &path = brew) { return path + ' ' + args + ' '; }
// Homebrew and the package manager may take long: a run within the install time limit.
Call installRun(const QString &line) { return {Kind::Run, line, CommandRunner::TimeLimit::Install}; }
const QString tap = brewLine("tap macos-fuse-t/homebrew-cask"), cask = brewLine("install --cask fuse-t"),
              formula = brewLine("install ntfs-3g-mac");
const QString pStart = "progress:セットアップを開始するよ...",
              pBrew = "progress:Homebrewをインストールしているよ（管理者パスワードの入力画面が出たら入力してね）...",
              pTap = "progress:Homebrewのレポジトリ（cask）を追加しているよ...",
              pCask = "progress:fuse-t をインストールしているよ...", pFormula = "progress:ntfs-3g-mac をインストールしているよ...",
              pDone = "progress:すべての依存ツールのインストールが完了したよ！ありちゃん！";

// A checker on scripted commands and paths; every property change is recorded in order as
// "name:value", the status as "status:<Homebrew 0/1><FUSE 0/1>:<ntfs-3g path or ->".
class DependencyCheckerTest : public testing::Test {
protected:
    std::shared_ptr<ScriptedRunner> runner = std::make_shared<ScriptedRunner>();
    std::shared_ptr<ScriptedFileProbe> files = std::make_shared<ScriptedFileProbe>();
    std::unique_ptr<DependencyChecker> checker;
    S events;

    DependencyChecker &make(QSet<QString> existing = {}, const Platform &platform = Platform::macOS())
    {
        files->existing = existing;
        runner = std::make_shared<ScriptedRunner>();
        checker = std::make_unique<DependencyChecker>(platform, runner, files);
        checker->setLoginName("alice");
        events.clear();
        auto *c = checker.get();
        QObject::connect(c, &DependencyChecker::statusChanged, [this](const DependencyStatus &s) {
            events << QString("status:%1%2:%3").arg(int(s.isHomebrewInstalled)).arg(int(s.isFuseTInstalled))
                          .arg(s.ntfs3gPath.value_or("-"));
        });
        QObject::connect(c, &DependencyChecker::isInstallingChanged, [this](bool v) { events << "installing:" + QString::number(v); });
        QObject::connect(c, &DependencyChecker::isUninstallingChanged, [this](bool v) { events << "uninstalling:" + QString::number(v); });
        QObject::connect(c, &DependencyChecker::installProgressMessageChanged, [this](const QString &v) { events << "progress:" + v; });
        QObject::connect(c, &DependencyChecker::installErrorMessageChanged, [this](const QString &v) { events << "error:" + v; });
        return *c;
    }
    void install() { testsupport::await(checker->installDependencies()); }
    std::string uninstall() // what the run wrote on standard output
    {
        testing::internal::CaptureStdout();
        testsupport::await(checker->uninstallDependencies());
        return testing::internal::GetCapturedStdout();
    }
    S tail(int n) const { return events.mid(events.size() - n); }
};

TEST_F(DependencyCheckerTest, ProbesTakeTheFirstExistingPathOfEachList)
{
    const QString sbin = "/usr/local/sbin/ntfs-3g", optBin = "/opt/homebrew/bin/ntfs-3g", optSbin = "/opt/homebrew/sbin/ntfs-3g";
    const std::pair<QSet<QString>, DependencyStatus> cases[] = {
        {{}, {}},
        {{sbin}, {false, false, sbin}},
        {{ntfs, optBin}, {false, false, optBin}},
        {{optSbin, sbin}, {false, false, sbin}},
        {{optSbin}, {false, false, optSbin}},
        {{fuse, ntfs}, {false, true, ntfs}},                         // complete without Homebrew
        {{"/usr/local/bin/brew", ntfs}, {true, false, ntfs}},       // incomplete without FUSE-T
    };
    for (const auto &[existing, expected] : cases)
        EXPECT_EQ(make(existing).status(), expected) << S(existing.values()).join(',').toStdString();
    EXPECT_TRUE(make({fuse, ntfs}).status().isAllInstalled());
    EXPECT_FALSE(make({brew, ntfs}).status().isAllInstalled());

    // Each check is one change, also when nothing changed; findBrewPath looks afresh.
    make({brew, fuse, ntfs}).checkDependencies();
    checker->checkDependencies();
    EXPECT_EQ(events, S({"status:11:" + ntfs, "status:11:" + ntfs}));
    files->existing = {"/usr/local/bin/brew"};
    EXPECT_EQ(checker->findBrewPath(), "/usr/local/bin/brew");
    EXPECT_EQ(events.size(), 2);
}

TEST_F(DependencyCheckerTest, SetupInstructionsAndHomebrewOwnerLine)
{
    // The manual way runs what the automatic setup runs.
    EXPECT_TRUE(make().setupInstructions().contains(
        "\nbrew tap macos-fuse-t/homebrew-cask\nbrew install --cask fuse-t\nbrew install ntfs-3g-mac\n"));

    // The owner reaches chown unchanged through the administrator shell, quotes and all.
    const QString name = "o'brien $(id) \\ \"x\"";
    QProcess sh;
    sh.start("/bin/sh", {"-c", "mkdir() { :; }; chown() { printf %s \"$2\"; }; " + DependencyChecker::directoryPreparationLine(name)});
    ASSERT_TRUE(sh.waitForFinished());
    EXPECT_EQ(QString::fromUtf8(sh.readAllStandardOutput()), name + ":admin");
}

TEST_F(DependencyCheckerTest, SetupOnAFreshMachineInstallsHomebrewFirst)
{
    make();
    const QMap<QString, QString> appears{{installer, brew}, {cask, fuse}, {formula, ntfs}};
    runner->onCall = [&](const Call &call) { // each tool appears once its command ran
        if (appears.contains(call.line))
            files->existing << appears[call.line];
    };
    install();
    EXPECT_EQ(runner->calls(), (QList<Call>{{Kind::Privileged, prepare}, installRun(installer), installRun(tap),
                                            installRun(cask), installRun(formula)}));
    EXPECT_EQ(events, S({"installing:1", "error:", pStart, pBrew, "status:10:-", pTap, pCask, pFormula, pDone,
                         "status:11:" + ntfs, "installing:0"}));
}

TEST_F(DependencyCheckerTest, SetupStopsOnlyWhenTheDirectoryPreparationWasCanceled)
{
    const QString installFailed = "Homebrewのインストールに失敗したよ。\n";
    const std::pair<ShellResult, QString> cases[] = {
        {ScriptedRunner::fail("execution error: User canceled. (-128)"), "管理者権限の取得がキャンセルされたよ。"},
        {ScriptedRunner::fail("Privileged execution failed: gone", -1), "管理者権限の取得がキャンセルされたよ。"},
        {ScriptedRunner::fail("chown: illegal group name"), installFailed},
        {ScriptedRunner::fail("user canceled"), installFailed},
        {ScriptedRunner::ok("User canceled"), installFailed},
    };
    for (const auto &[prepared, error] : cases) {
        SCOPED_TRACE(prepared.output.toStdString());
        make();
        runner->on(prepare, prepared);
        runner->on(installer, ScriptedRunner::fail());
        install();
        EXPECT_EQ(runner->lines(), error == installFailed ? S({prepare, installer}) : S({prepare}));
        EXPECT_EQ(tail(4), S({pBrew, "error:" + error, "status:00:-", "installing:0"})); // checked again, also after a failure
    }
    make(); // the installer succeeds, yet Homebrew is at neither path
    install();
    EXPECT_EQ(runner->lines(), S({prepare, installer}));
    EXPECT_EQ(tail(3), S({"error:Homebrewがインストールされたはずなのに、パスが見つからないよ。", "status:00:-", "installing:0"}));

    make(); // Homebrew arrived after the last check: the stored status still sends us through the installer
    files->existing = {brew};
    install();
    EXPECT_EQ(runner->lines(), S({prepare, installer, tap, cask, formula}));
}

TEST_F(DependencyCheckerTest, HomebrewStepsAcceptOnlyTheExactAlreadyDoneWords)
{
    struct Case {
        QString line, output, progress, error; // no error: the run went on
    };
    const Case cases[] = {
        {tap, "Error: already tapped", {}, {}},
        {tap, "Already tapped", pTap, "Homebrew Caskの登録に失敗したよ。\nAlready tapped"},
        {tap, "already installed", pTap, "Homebrew Caskの登録に失敗したよ。\nalready installed"},
        {cask, "Warning: fuse-t is already installed", {}, {}},
        {cask, "", pCask, "fuse-t のインストールに失敗したよ。\n"},
        {formula, "Already installed", pFormula, "ntfs-3g-mac のインストールに失敗したよ。\nAlready installed"},
    };
    const S all{tap, cask, formula};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.line.toStdString() + c.output.toStdString());
        make({brew});
        runner->on(c.line, ScriptedRunner::fail(c.output));
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

TEST_F(DependencyCheckerTest, UninstallRemovesTheFormulaThenTheFuseLayer)
{
    // A failed formula removal counts only while ntfs-3g is still there; then the FUSE layer stays.
    const QString formulaGone = brewLine("uninstall ntfs-3g-mac"), refusal =
        "Error: Refusing to uninstall /opt/homebrew/Cellar/ntfs-3g-mac because it is required by foo";
    const QList<Call> both{installRun(formulaGone), {Kind::Privileged, scriptLine, CommandRunner::TimeLimit::Install}};
    const QString pScript = "progress:fuse-t をアンインストールしているよ（管理者パスワードの入力画面が出たら入力してね）...",
                  pGone = "progress:依存ツールのアンインストールが完了したよ！";
    const std::tuple<ShellResult, bool, S> cases[] = {
        {ScriptedRunner::fail("Error: No such keg"), false, {pScript, pGone, "status:11:-"}},
        {ScriptedRunner::ok(), true, {pScript, pGone, "status:11:" + ntfs}},
        {ScriptedRunner::fail(refusal), true, {"error:ntfs-3g-mac のアンインストールに失敗したよ。\n" + refusal, "status:11:" + ntfs}},
    };
    for (const auto &[removed, stays, rest] : cases) {
        SCOPED_TRACE(removed.output.toStdString());
        make(stays ? QSet<QString>{brew, script, ntfs} : QSet<QString>{brew, script});
        runner->on(formulaGone, removed);
        EXPECT_EQ(uninstall(), "ntfs-3g-mac uninstall result: " + removed.output.toStdString() + "\n");
        EXPECT_EQ(runner->calls(), both.mid(0, removed.isSuccess || !stays ? 2 : 1));
        EXPECT_EQ(events, S({"uninstalling:1", "error:", "progress:アンインストールを開始するよ...",
                             "progress:ntfs-3g-mac をアンインストールしているよ..."}) + rest + S({"uninstalling:0"}));
    }

    make({brew, fuse}); // no script: Homebrew removes the cask, and its failure is only logged
    runner->setFallback(ScriptedRunner::fail());
    EXPECT_EQ(uninstall(), "ntfs-3g-mac uninstall result: \nfuse-t brew uninstall result: \n");
    EXPECT_EQ(runner->lines(), S({formulaGone, brewLine("uninstall --cask fuse-t")}));
    EXPECT_EQ(tail(4), S({"progress:fuse-t をアンインストールしているよ...", pGone, "status:11:-", "uninstalling:0"}));

    make({ntfs}); // nothing to run with: still a completed run and a fresh check
    EXPECT_EQ(uninstall(), "");
    EXPECT_EQ(runner->lines(), S());
    EXPECT_EQ(tail(3), S({pGone, "status:00:" + ntfs, "uninstalling:0"}));
}

TEST_F(DependencyCheckerTest, UninstallScriptFailureEndsTheRunWithARecheck)
{
    make({script});
    runner->on(scriptLine, ScriptedRunner::fail("execution error: User canceled. (-128)"));
    uninstall();
    EXPECT_EQ(tail(4), S({"progress:fuse-t をアンインストールしているよ（管理者パスワードの入力画面が出たら入力してね）...",
                          "error:fuse-tのアンインストールに失敗したよ。\nexecution error: User canceled. (-128)", "status:01:-",
                          "uninstalling:0"}));
}

TEST_F(DependencyCheckerTest, SetupAndUninstallRefuseToStartWhileEitherRuns)
{
    const S uninstalls{brewLine("uninstall ntfs-3g-mac"), brewLine("uninstall --cask fuse-t")};
    for (const bool setupFirst : {true, false}) {
        SCOPED_TRACE(setupFirst ? "setup first" : "uninstall first");
        make({brew, fuse, ntfs});
        runner->setAsyncDelay(20ms);
        testing::internal::CaptureStdout(); // the uninstall's log lines
        auto running = setupFirst ? checker->installDependencies() : checker->uninstallDependencies();
        const S before = events;
        auto setup = checker->installDependencies();
        auto removal = checker->uninstallDependencies();
        EXPECT_TRUE(setup.isReady() && removal.isReady());
        EXPECT_EQ(events, before);
        testsupport::await(std::move(running));
        testing::internal::GetCapturedStdout();
        EXPECT_EQ(runner->lines(), setupFirst ? S({tap, cask, formula}) : uninstalls);
    }
}

TEST_F(DependencyCheckerTest, LinuxProfileDrivesTheHomebrewStandIn)
{
    const Platform linux = testsupport::linuxProfile();
    const QString standIn = linux.homebrewPaths.value(0);
    ASSERT_TRUE(standIn.endsWith("/libexec/quorvel-ntfs-mount/brew"));
    make({}, linux);
    install(); // no installer on this profile: only the path lookup complains
    EXPECT_EQ(runner->lines(), S());
    EXPECT_EQ(checker->installErrorMessage(), "パッケージマネージャーがインストールされたはずなのに、パスが見つからないよ。");

    make({standIn, script}, linux); // and no uninstall script, whatever exists
    install();
    uninstall();
    EXPECT_EQ(runner->lines(), S({brewLine("tap macos-fuse-t/homebrew-cask", standIn), brewLine("install --cask fuse-t", standIn),
                                  brewLine("install ntfs-3g-mac", standIn), brewLine("uninstall ntfs-3g-mac", standIn),
                                  brewLine("uninstall --cask fuse-t", standIn)}));

    // What the user reads names the tools Linux has, never the macOS ones.
    const Platform::Words &w = checker->platform().words;
    S texts = events.filter(QRegularExpression("^(progress|error):"));
    texts << w.packageManager << w.fuseLayer << w.ntfs3g << w.addingRepository << w.addingRepositoryFailed
          << w.removingFuseLayer << w.securityNote << w.uninstallConfirmation << w.setupInstructions;
    for (const QString &text : texts)
        EXPECT_FALSE(text.contains(QRegularExpression("Homebrew|brew |fuse-t|-mac|cask|Kext|Terminal"))) << text.toStdString();
    EXPECT_TRUE(checker->setupInstructions().contains("\nsudo apt install ntfs-3g fuse3\n"));
}

} // namespace
