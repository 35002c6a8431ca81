// The real runner against real children: streams, trimming, signals, large output, launch
// failures, time limits, program paths, elevation, and the blocking, awaitable and batched forms
// agreeing.
#include "shell/HelperShell.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <csignal>

using testsupport::await;

// Which stream is the output, trimming, text that is not UTF-8, exit status, signals, and a shell
// that cannot start; a batch answers as the single runs do, in its own order.
TEST(HelperShell, ResultRules)
{
    const std::pair<QString, ShellResult> rows[] = {
        {"sleep 0.2; echo '  out  '; echo err >&2", {true, "out", 0}}, // the slowest first
        {"echo 'only err' >&2", {true, "only err", 0}},                 // stderr only, exit 0: still a success
        {"printf '  \\n\\n'; echo err >&2; exit 3", {false, "", 3}},    // blank stdout wins, trimmed to nothing
        // Unicode white space (ideographic space, no-break space) and line breaks are trimmed.
        {"printf '\\343\\200\\200\\302\\240\\t\\344\\275\\234\\r\\n\\342\\200\\250'", {true, QString::fromUtf8("作"), 0}},
        {"printf 'ab\\377cd'; echo fallback >&2", {true, "fallback", 0}}, // invalid UTF-8 counts as empty
        {"printf '\\377' >&2; exit 2", {false, "", 2}},
        {"kill -TERM $$", {false, "", 15}}, // a child ended by a signal reports the signal number
    };
    HelperShell shell(testsupport::linuxProfile());
    QList<CommandRunner::Command> batch;
    QList<ShellResult> expected;
    for (const auto &[line, result] : rows) {
        EXPECT_EQ(shell.run(line, {}), result) << line.toStdString();
        EXPECT_EQ(await(shell.runAsync(line, {})), result) << line.toStdString();
        batch << CommandRunner::Command{line, {}};
        expected << result;
    }
    EXPECT_EQ(shell.runEach(batch), expected);

    Platform broken = testsupport::linuxProfile();
    broken.elevation = Platform::Elevation::Direct;
    broken.shell = broken.privilegedShell = "/nonexistent/sh";
    HelperShell none(broken);
    const QString failed = "Failed to run command: ", privileged = "Privileged execution failed: ";
    for (const auto &[r, prefix] : {std::pair{none.run("true", {}), failed}, {await(none.runAsync("true", {})), failed},
                                    {none.runEach({{"true", {}}}).value(0), failed}, {await(none.runPrivilegedAsync("true")), privileged}})
        EXPECT_TRUE(r.exitCode == -1 && r.output.startsWith(prefix) && r.output.size() > prefix.size()) << r.output.toStdString();
}

TEST(HelperShell, KeepsTheStartOfEndlessOutputDrainsBothPipesAndKeepsTheEventLoopRunning)
{
    HelperShell shell(testsupport::linuxProfile());
    // 64 MiB on each stream at once: a runner that reads one pipe after the other, or stops reading
    // at the bound, leaves the child stuck on a full pipe. The bound falls inside a two-byte
    // character of "é\n é\n …", which goes whole. The timer counts the event loop's turns during
    // the awaited run.
    const QString line = "sleep 0.2; (yes é | head -c 64M) & (head -c 64M /dev/zero | tr '\\000' b >&2) & wait";
    const qsizetype lines = HelperShell::kKeptOutputBytes / 3;
    ASSERT_EQ(HelperShell::kKeptOutputBytes % 3, 1);
    const ShellResult kept{true, QString::fromUtf8("é\n").repeated(lines) + "\n" + HelperShell::kOutputCutMark, 0};
    EXPECT_EQ(shell.run(line, {}), kept);
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(5);
    EXPECT_EQ(await(shell.runAsync(line, {})), kept);
    EXPECT_GT(ticks, 3);
}

TEST(HelperShell, ChildrenPastTheirTimeLimitAreStoppedAndReportAFailureOfTheirOwn)
{
    using namespace std::chrono_literals;
    Platform p = testsupport::linuxProfile();
    p.elevation = Platform::Elevation::Direct;
    HelperShell shell(p, {200ms, 300ms, 400ms});
    QTemporaryDir dir;
    const QString line = "echo $$ > '" + dir.filePath("pid") + "'; exec sleep 30";
    const std::pair<ShellResult, const char *> cases[] = {
        {shell.run(line, {}), "200 milliseconds"},
        {await(shell.runAsync(line, {})), "200 milliseconds"},
        {shell.runEach({{line, {}}}).value(0), "200 milliseconds"},
        {await(shell.runPrivilegedAsync(line)), "300 milliseconds"},
        {await(shell.runAsync(line, {}, CommandRunner::TimeLimit::Install)), "400 milliseconds"},
    };
    for (const auto &[result, limit] : cases)
        EXPECT_EQ(result, (ShellResult{false, line + " did not finish within " + limit + " and was stopped.", ShellResult::kTimedOut}));
    // The child itself is gone, not only waited for no longer.
    QFile pid(dir.filePath("pid"));
    ASSERT_TRUE(pid.open(QIODevice::ReadOnly));
    EXPECT_NE(::kill(pid_t(pid.readAll().trimmed().toInt()), 0), 0);
    EXPECT_EQ(HelperShell::timedOutResult("/sbin/mount ", 2min).output, "/sbin/mount did not finish within 2 minutes and was stopped.");
}

// A stand-in under an install prefix the shell would split and expand still runs with its arguments.
TEST(HelperShell, AProgramPathWithBlanksQuotesAndDollarsRunsAsOneWord)
{
    QTemporaryDir dir;
    const QString folder = dir.filePath("My Apps/it's $HOME `id` \\ x");
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString program = folder + "/diskutil";
    ASSERT_TRUE(testsupport::writeScript(program, "printf '%s|' \"$@\"\n"));
    HelperShell shell(testsupport::linuxProfile());
    EXPECT_EQ(shell.run(program, {"info", "'a b'"}), (ShellResult{true, "info|a b|", 0}));
}

TEST(HelperShell, AppleScriptStatementEscapesBackslashesThenQuotes)
{
    const QString line = R"(mkdir -p "/Volumes/A\"B" && echo \$HOME)";
    const QString statement = HelperShell::appleScriptStatement(line);
    EXPECT_EQ(statement, R"(do shell script "mkdir -p \"/Volumes/A\\\"B\" && echo \\$HOME" with administrator privileges)");
    const auto invocation = HelperShell::privilegedInvocation(Platform::macOS(), line);
    EXPECT_EQ(invocation.program, "/usr/bin/osascript");
    EXPECT_EQ(invocation.arguments, QStringList({"-e", statement}));
}

// pkexec stand-ins: one that runs what it is given, a dismissed prompt, a refusal, no agent.
TEST(HelperShell, PkexecDismissalReadsAsUserCanceledAMissingAgentIsExplainedOtherFailuresKeepTheirText)
{
    QTemporaryDir dir;
    Platform p = testsupport::linuxProfile();
    p.elevation = Platform::Elevation::Pkexec;
    const auto pkexec = [&](const QByteArray &body) {
        p.pkexec = dir.filePath(QString::number(qHash(body)));
        EXPECT_TRUE(testsupport::writeScript(p.pkexec, body));
        return HelperShell(p);
    };
    const QByteArray refusal = "echo 'Error executing command as another user: ";
    EXPECT_EQ(await(pkexec("exec \"$@\"\n").runPrivilegedAsync(R"(printf '%s' "x y")")), (ShellResult{true, "x y", 0}));
    HelperShell dismissed = pkexec(refusal + "Request dismissed' >&2\nexit 126\n");
    EXPECT_EQ(await(dismissed.runPrivilegedAsync("true")),
              (ShellResult{false, "User canceled. Error executing command as another user: Request dismissed", 126, true}));
    EXPECT_EQ(await(pkexec(refusal + "Not authorized' >&2\nexit 127\n").runPrivilegedAsync("true")),
              (ShellResult{false, "Error executing command as another user: Not authorized", 127}));
    const ShellResult lonely = await(pkexec(refusal + "No authentication agent found.' >&2\nexit 127\n").runPrivilegedAsync("true"));
    EXPECT_TRUE(lonely.exitCode == 127 && lonely.output.startsWith("No polkit authentication agent is running"))
        << lonely.output.toStdString();
}
