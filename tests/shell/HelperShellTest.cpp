// The real runner against real children: streams, trimming, signals, large output, launch
// failures, elevation, and the blocking and awaitable forms agreeing.
#include "shell/HelperShell.h"
#include "support/TestSupport.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <csignal>

namespace {

Platform shellProfile()
{
    // The macOS profile with a shell this machine has.
    Platform p = Platform::macOS();
    p.shell = QStringLiteral("/bin/sh");
    return p;
}

// Both forms must agree on every result.
ShellResult runBoth(HelperShell &shell, const QString &command, const QStringList &arguments = {})
{
    const ShellResult blocking = shell.run(command, arguments);
    const ShellResult awaited = testsupport::await(shell.runAsync(command, arguments));
    EXPECT_EQ(blocking, awaited) << command.toStdString();
    return blocking;
}

QString writeScript(const QTemporaryDir &dir, const QString &name, const QByteArray &body)
{
    EXPECT_TRUE(testsupport::writeScript(dir.filePath(name), body)) << name.toStdString();
    return dir.filePath(name);
}

// What the AppleScript host does to a string literal before its shell sees it.
QString unescapeAppleScriptLiteral(const QString &literal)
{
    QString out;
    for (qsizetype i = 0; i < literal.size(); ++i) {
        if (literal[i] == QLatin1Char('\\') && i + 1 < literal.size())
            ++i;
        out += literal[i];
    }
    return out;
}

} // namespace

TEST(HelperShell, JoinsCommandAndArgumentsWithATrailingSpaceWhenThereAreNone)
{
    EXPECT_EQ(CommandRunner::joinCommandLine("/sbin/mount", {}), "/sbin/mount ");
    EXPECT_EQ(CommandRunner::joinCommandLine("/usr/sbin/diskutil", {"info", "-plist", "disk4s1"}),
              "/usr/sbin/diskutil info -plist disk4s1");
    const auto invocation = HelperShell::shellInvocation(Platform::macOS(), "/sbin/mount ");
    EXPECT_EQ(invocation.program, "/bin/zsh");
    EXPECT_EQ(invocation.arguments, QStringList({"-c", "/sbin/mount "}));
}

// Which stream is the output, trimming, text that is not UTF-8, exit status and signals.
TEST(HelperShell, ResultRules)
{
    HelperShell shell(shellProfile());
    const std::pair<const char *, ShellResult> rows[] = {
        {"echo '  out  '; echo err >&2", {true, "out", 0}},
        {"echo 'only err' >&2", {true, "only err", 0}},             // stderr only, exit 0: still a success
        {"printf '  \\n\\n'; echo err >&2; exit 3", {false, "", 3}}, // blank stdout wins, trimmed to nothing
        // Unicode white space (ideographic space, no-break space) and line breaks are trimmed.
        {"printf '\\343\\200\\200\\302\\240\\t\\344\\275\\234\\r\\n\\342\\200\\250'", {true, QString::fromUtf8("作"), 0}},
        {"printf 'ab\\377cd'; echo fallback >&2", {true, "fallback", 0}}, // invalid UTF-8 counts as empty
        {"printf '\\377' >&2; exit 2", {false, "", 2}},
        {"exit 42", {false, "", 42}},
        {"kill -TERM $$", {false, "", 15}}, // a child ended by a signal reports the signal number
    };
    for (const auto &[line, expected] : rows)
        EXPECT_EQ(runBoth(shell, line), expected);
    // A program that does not exist is no launch failure: the shell reports it.
    const ShellResult missing = runBoth(shell, "/nonexistent/program");
    EXPECT_EQ(missing.exitCode, 127);
    EXPECT_TRUE(missing.output.contains("nonexistent")) << missing.output.toStdString();
}

TEST(HelperShell, LaunchFailuresCarryTheirPrefixAndMinusOne)
{
    Platform p = shellProfile();
    p.shell = "/nonexistent/zsh";
    p.osascript = "/nonexistent/osascript";
    HelperShell shell(p);
    for (const ShellResult &r : {shell.run("true", {}), testsupport::await(shell.runAsync("true", {}))}) {
        EXPECT_FALSE(r.isSuccess);
        EXPECT_EQ(r.exitCode, -1);
        EXPECT_TRUE(r.output.startsWith("Failed to run command: ")) << r.output.toStdString();
        EXPECT_GT(r.output.size(), QString("Failed to run command: ").size());
    }
    for (const ShellResult &r : {shell.runPrivileged("true"), testsupport::await(shell.runPrivilegedAsync("true"))}) {
        EXPECT_EQ(r.exitCode, -1);
        EXPECT_TRUE(r.output.startsWith("Privileged execution failed: ")) << r.output.toStdString();
    }
}

TEST(HelperShell, DrainsBothPipesWhileTheChildRuns)
{
    HelperShell shell(shellProfile());
    // 64 MiB on each stream at once: a runner that reads one pipe after the other deadlocks.
    const QString line = "(head -c 67108864 /dev/zero | tr '\\000' a) & "
                         "(head -c 67108864 /dev/zero | tr '\\000' b >&2) & wait";
    const ShellResult blocking = shell.run(line, {});
    ASSERT_TRUE(blocking.isSuccess);
    EXPECT_EQ(blocking.output.size(), 67108864);
    EXPECT_TRUE(blocking.output.startsWith("aaaa") && blocking.output.endsWith("aaaa"));
    const ShellResult awaited = testsupport::await(shell.runAsync(line, {}));
    EXPECT_EQ(awaited.output.size(), 67108864);
}

TEST(HelperShell, AwaitableFormKeepsTheEventLoopRunning)
{
    HelperShell shell(shellProfile());
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(5);
    const ShellResult r = testsupport::await(shell.runAsync("sleep 0.3; echo done", {}));
    EXPECT_EQ(r.output, "done");
    // The blocking form would have let no tick through.
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
    const auto stopped = [&](const char *limit) {
        return ShellResult{false, line + " did not finish within " + limit + " and was stopped.", ShellResult::kTimedOut};
    };
    QElapsedTimer clock;
    clock.start();
    const std::pair<ShellResult, ShellResult> cases[] = {
        {shell.run(line, {}), stopped("200 milliseconds")},
        {testsupport::await(shell.runAsync(line, {})), stopped("200 milliseconds")},
        {shell.runPrivileged(line), stopped("300 milliseconds")},
        {testsupport::await(shell.runPrivilegedAsync(line)), stopped("300 milliseconds")},
        {testsupport::await(shell.runAsync(line, {}, CommandRunner::TimeLimit::Install)), stopped("400 milliseconds")},
    };
    EXPECT_LT(clock.elapsed(), 10000);
    for (const auto &[result, expected] : cases)
        EXPECT_EQ(result, expected);
    // The child itself is gone, not only waited for no longer.
    QFile pid(dir.filePath("pid"));
    ASSERT_TRUE(pid.open(QIODevice::ReadOnly));
    EXPECT_NE(::kill(pid_t(pid.readAll().trimmed().toInt()), 0), 0);
    EXPECT_EQ(HelperShell::timedOutResult("/sbin/mount ", 2min).output, "/sbin/mount did not finish within 2 minutes and was stopped.");
}

TEST(HelperShell, AppleScriptStatementEscapesBackslashesThenQuotes)
{
    const QString line = R"(mkdir -p "/Volumes/A\"B" && echo \$HOME)";
    const QString statement = HelperShell::appleScriptStatement(line);
    EXPECT_EQ(statement,
              R"(do shell script "mkdir -p \"/Volumes/A\\\"B\" && echo \\$HOME" with administrator privileges)");
    const auto invocation = HelperShell::privilegedInvocation(Platform::macOS(), line);
    EXPECT_EQ(invocation.program, "/usr/bin/osascript");
    EXPECT_EQ(invocation.arguments, QStringList({"-e", statement}));

    // The script host undoes the escaping: the administrator shell receives the line unchanged.
    const QString prefix = "do shell script \"";
    const QString suffix = "\" with administrator privileges";
    const QString literal = statement.mid(prefix.size(), statement.size() - prefix.size() - suffix.size());
    EXPECT_EQ(unescapeAppleScriptLiteral(literal), line);
}

TEST(HelperShell, RootRunsPrivilegedLinesDirectly)
{
    Platform p = testsupport::linuxProfile();
    p.elevation = Platform::Elevation::Direct;
    HelperShell shell(p);
    const QString line = R"(printf '%s|%s' "a\"b" 'c\d')";
    EXPECT_EQ(shell.runPrivileged(line), (ShellResult{true, R"(a"b|c\d)", 0}));
    EXPECT_EQ(testsupport::await(shell.runPrivilegedAsync(line)), (ShellResult{true, R"(a"b|c\d)", 0}));
}

TEST(HelperShell, PkexecDismissalReadsAsUserCanceledAMissingAgentIsExplainedOtherFailuresKeepTheirText)
{
    QTemporaryDir dir;
    Platform p = testsupport::linuxProfile();
    p.elevation = Platform::Elevation::Pkexec;

    // A stand-in pkexec that runs what it is given, so the line's way through is visible.
    p.pkexec = writeScript(dir, "pkexec-pass", "exec \"$@\"\n");
    HelperShell passing(p);
    EXPECT_EQ(passing.runPrivileged(R"(printf '%s' "x y")"), (ShellResult{true, "x y", 0}));

    p.pkexec = writeScript(dir, "pkexec-dismissed", "echo 'Error executing command as another user: Request dismissed' >&2\nexit 126\n");
    HelperShell dismissed(p);
    for (const ShellResult &r : {dismissed.runPrivileged("true"), testsupport::await(dismissed.runPrivilegedAsync("true"))}) {
        EXPECT_FALSE(r.isSuccess);
        EXPECT_EQ(r.exitCode, 126);
        EXPECT_TRUE(r.output.contains("User canceled")) << r.output.toStdString();
        EXPECT_TRUE(r.output.contains("Request dismissed"));
    }

    p.pkexec = writeScript(dir, "pkexec-denied", "echo 'Error executing command as another user: Not authorized' >&2\nexit 127\n");
    HelperShell denied(p);
    EXPECT_EQ(denied.runPrivileged("true"),
              (ShellResult{false, "Error executing command as another user: Not authorized", 127}));

    // No agent to ask: a clear message instead of pkexec's own words.
    p.pkexec = writeScript(dir, "pkexec-no-agent",
                           "echo 'Error executing command as another user: No authentication agent found.' >&2\nexit 127\n");
    const ShellResult lonely = HelperShell(p).runPrivileged("true");
    EXPECT_EQ(lonely.exitCode, 127);
    EXPECT_TRUE(lonely.output.startsWith("No polkit authentication agent is running")) << lonely.output.toStdString();
}
