// The Homebrew stand-in's dispatch, against fake package managers that only record their calls.
#include "StandinHarness.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include <unistd.h>

using namespace standins;
using namespace standins::testing;
namespace fs = std::filesystem;

namespace {

// Logs "DEBIAN_FRONTEND|arguments" for every call; answers queries from the list of installed
// packages; fails with FAKE_EXIT when set.
constexpr const char *fakeManager = R"sh(#!/bin/sh
for last; do :; done
case "$(basename "$0") $1" in
  "dpkg-query "*|"rpm "*|"pacman -Q")
    grep -qx "$last" "$FAKE_INSTALLED" || exit 1
    [ "$(basename "$0")" = dpkg-query ] && printf 'install ok installed'
    exit 0 ;;
esac
printf '%s|%s %s\n' "${DEBIAN_FRONTEND-}" "$(basename "$0")" "$*" >> "$FAKE_LOG"
exit "${FAKE_EXIT:-0}"
)sh";

const std::vector<std::string> apt = {"apt-get", "dpkg-query"};
const std::vector<std::string> tap = {"tap", "macos-fuse-t/homebrew-cask"}, installFuse = {"install", "--cask", "fuse-t"},
                               installNtfs = {"install", "ntfs-3g-mac"}, removeNtfs = {"uninstall", "ntfs-3g-mac"},
                               removeFuse = {"uninstall", "--cask", "fuse-t"};

class BrewTest : public ::testing::Test {
protected:
    // The fake `tools` in a directory of their own (returned, for QUORVEL_BREW_PM_PATH), the
    // `installed` packages and an empty log, all open to every user (one case runs as another).
    std::string machine(const std::vector<std::string> &tools, const std::string &installed = "")
    {
        fs::remove_all(dir / "bin");
        fs::create_directories(dir / "bin");
        for (const auto &name : tools)
            writeFile(dir / ("bin/" + name), fakeManager);
        writeFile(dir / "installed", installed);
        writeFile(dir / "log", "");
        fs::permissions(dir.path(), fs::perms::all);
        for (const auto &item : fs::recursive_directory_iterator(dir.path()))
            fs::permissions(item.path(), fs::perms::all);
        return dir / "bin";
    }

    ProgramResult brew(const std::vector<std::string> &args, const std::string &pmPath, std::vector<std::string> env = {})
    {
        env.insert(env.end(), {"QUORVEL_BREW_PM_PATH=" + pmPath, "FAKE_LOG=" + dir / "log",
                               "FAKE_INSTALLED=" + dir / "installed", "DEBIAN_FRONTEND=untouched"});
        return runStandin("brew", args, env);
    }

    std::string log() const
    {
        std::stringstream text;
        text << std::ifstream(dir / "log").rdbuf();
        return text.str();
    }

    TempDir dir;
};

TEST_F(BrewTest, EachKnownCommandLineDrivesThePackageManagerAtMostOnce)
{
    struct Case {
        std::vector<std::string> tools;
        std::string installed;
        std::vector<std::string> args;
        std::string log, says;
    };
    const std::string both = "fuse3\nntfs-3g\n";
    const Case cases[] = {
        {apt, "", tap, "noninteractive|apt-get update\n", "Refreshed the package index"},
        {apt, "", installFuse, "noninteractive|apt-get install -y fuse3\n", "installed fuse3"},
        {apt, "", installNtfs, "noninteractive|apt-get install -y ntfs-3g\n", "installed ntfs-3g"},
        {apt, "", removeNtfs, "", "not installed"},
        {apt, both, installFuse, "", "already installed"},
        {apt, both, installNtfs, "", "already installed"},
        {apt, both, removeNtfs, "noninteractive|apt-get remove -y ntfs-3g\n", "removed ntfs-3g"},
        {apt, both, removeFuse, "", "stays installed"}, // other parts of the system use FUSE
        {{"dnf", "rpm"}, "", tap, "untouched|dnf makecache\n", ""},
        {{"dnf", "rpm"}, "", installFuse, "untouched|dnf install -y fuse3\n", ""},
        {{"zypper", "rpm"}, "", tap, "untouched|zypper --non-interactive refresh\n", ""},
        {{"zypper", "rpm"}, "", installFuse, "untouched|zypper --non-interactive install fuse3\n", ""},
        {{"pacman"}, "", tap, "untouched|pacman -Sy --noconfirm\n", ""},
        {{"pacman"}, "", installFuse, "untouched|pacman -S --noconfirm --needed fuse3\n", ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.tools.front() + " " + c.args.front() + " " + c.args.back() + (c.installed.empty() ? "" : " (installed)"));
        const auto run = brew(c.args, machine(c.tools, c.installed));
        EXPECT_EQ(run.exitCode, 0) << run.standardError;
        EXPECT_EQ(log(), c.log);
        EXPECT_NE(run.standardOutput.find(c.says), std::string::npos) << run.standardOutput;
    }
}

TEST_F(BrewTest, UnknownCommandLinesAndPackageManagerFailuresAreReported)
{
    const std::string bin = machine(apt);
    for (const std::vector<std::string> &args : std::vector<std::vector<std::string>>{
             {},
             {"install", "fuse-t"},
             {"install", "--cask fuse-t"}, // two words, not three
             {"install", "--cask", "fuse-t", "extra"},
             {"tap", "someone/else"},
             {"upgrade"},
             {"uninstall", "--cask", "macfuse"}}) {
        const auto run = brew(args, bin);
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_NE(run.standardError.find("brew: unsupported command line"), std::string::npos) << run.standardError;
    }
    EXPECT_EQ(log(), "");

    const auto none = brew(installNtfs, dir / "empty");
    EXPECT_NE(none.exitCode, 0);
    EXPECT_NE(none.standardError.find("no supported package manager"), std::string::npos) << none.standardError;
    const auto failed = brew(installNtfs, bin, {"FAKE_EXIT=100"});
    EXPECT_EQ(failed.exitCode, 100);
    EXPECT_NE(failed.standardError.find("installing ntfs-3g with apt-get failed"), std::string::npos) << failed.standardError;
    // A failed install must not pass for "already installed" in the application's eyes.
    EXPECT_EQ(failed.standardOutput.find("already installed"), std::string::npos);
}

TEST_F(BrewTest, AnOrdinaryUserGoesThroughPkexecWithTheEnvironmentSpelledOut)
{
    if (::geteuid() != 0 || !fs::exists("/usr/bin/setpriv"))
        GTEST_SKIP() << "needs root and setpriv to run the stand-in as another user";
    // The fake pkexec records its arguments, then either runs them (like a granted prompt) or
    // exits 126 (a dismissed one).
    writeFile(dir / "pkexec", "#!/bin/sh\nprintf 'pkexec %s\\n' \"$*\" >> \"$FAKE_LOG\"\n"
                              "[ -n \"${FAKE_DISMISS-}\" ] && exit 126\nexec env -u DEBIAN_FRONTEND \"$@\"\n");
    const std::string bin = machine(apt);
    auto asNobody = [&](const std::string &extra) {
        return runProgram({"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                           std::string(QUORVEL_STANDINS_DIR) + "/brew", "install", "--cask", "fuse-t"},
                          {extra, "QUORVEL_BREW_PM_PATH=" + bin, "QUORVEL_BREW_PKEXEC=" + dir / "pkexec",
                           "FAKE_LOG=" + dir / "log", "FAKE_INSTALLED=" + dir / "installed"});
    };
    const auto granted = asNobody("FAKE_DISMISS=");
    if (granted.exitCode != 0 && granted.standardError.find("Permission denied") != std::string::npos)
        GTEST_SKIP() << "the build tree is not readable by nobody: " << granted.standardError;
    EXPECT_EQ(granted.exitCode, 0) << granted.standardError;
    EXPECT_EQ(log(), "pkexec /usr/bin/env DEBIAN_FRONTEND=noninteractive " + bin + "/apt-get install -y fuse3\n"
                     "noninteractive|apt-get install -y fuse3\n");

    writeFile(dir / "log", "");
    const auto dismissed = asNobody("FAKE_DISMISS=1");
    EXPECT_EQ(dismissed.exitCode, 126);
    EXPECT_NE(dismissed.standardError.find("dismissed"), std::string::npos) << dismissed.standardError;
}

} // namespace
