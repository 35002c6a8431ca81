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

class BrewTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fs::permissions(dir.path(), fs::perms::all); // the elevation test runs as another user
        writeFile(dir / "log", "");
        writeFile(dir / "installed", "");
        fs::permissions(dir / "log", fs::perms::all);
    }

    // Puts fake tools into a directory of their own and returns the path for QUORVEL_BREW_PM_PATH.
    std::string fakeTools(const std::vector<std::string> &names)
    {
        const std::string bin = dir / "bin";
        fs::create_directories(bin);
        fs::permissions(bin, fs::perms::all);
        for (const auto &name : names) {
            writeFile(bin + "/" + name, fakeManager);
            fs::permissions(bin + "/" + name, fs::perms::all);
        }
        return bin;
    }

    ProgramResult brew(const std::vector<std::string> &args, const std::string &pmPath,
                       std::vector<std::string> extraEnvironment = {})
    {
        extraEnvironment.insert(extraEnvironment.end(),
                                {"QUORVEL_BREW_PM_PATH=" + pmPath, "FAKE_LOG=" + dir / "log",
                                 "FAKE_INSTALLED=" + dir / "installed", "DEBIAN_FRONTEND=untouched"});
        return runStandin("brew", args, extraEnvironment);
    }

    std::string log() const
    {
        std::ifstream in(dir / "log");
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    TempDir dir;
};

TEST_F(BrewTest, EachKnownCommandLineDrivesAptGet)
{
    const std::string bin = fakeTools({"apt-get", "dpkg-query"});
    struct Case {
        std::vector<std::string> args;
        std::string expectedLog;
    };
    const std::vector<Case> cases = {
        {{"tap", "macos-fuse-t/homebrew-cask"}, "noninteractive|apt-get update\n"},
        {{"install", "--cask", "fuse-t"}, "noninteractive|apt-get install -y fuse3\n"},
        {{"install", "ntfs-3g-mac"}, "noninteractive|apt-get install -y ntfs-3g\n"},
        {{"uninstall", "ntfs-3g-mac"}, ""}, // not installed: nothing to remove
        {{"uninstall", "--cask", "fuse-t"}, ""},
    };
    for (const auto &c : cases) {
        writeFile(dir / "log", "");
        const auto run = brew(c.args, bin);
        EXPECT_EQ(run.exitCode, 0) << c.args[0] << ": " << run.standardError;
        EXPECT_EQ(log(), c.expectedLog) << c.args[0];
        EXPECT_FALSE(run.standardOutput.empty());
    }

    // Installed packages: installs succeed without a call and say so; the removal happens.
    writeFile(dir / "installed", "fuse3\nntfs-3g\n");
    writeFile(dir / "log", "");
    const auto fuse = brew({"install", "--cask", "fuse-t"}, bin);
    EXPECT_EQ(fuse.exitCode, 0);
    EXPECT_NE(fuse.standardOutput.find("already installed"), std::string::npos) << fuse.standardOutput;
    EXPECT_EQ(brew({"install", "ntfs-3g-mac"}, bin).exitCode, 0);
    EXPECT_EQ(log(), "");
    EXPECT_EQ(brew({"uninstall", "ntfs-3g-mac"}, bin).exitCode, 0);
    EXPECT_EQ(log(), "noninteractive|apt-get remove -y ntfs-3g\n");

    // fuse-t's uninstall leaves FUSE alone even when it is installed.
    writeFile(dir / "log", "");
    const auto keep = brew({"uninstall", "--cask", "fuse-t"}, bin);
    EXPECT_EQ(keep.exitCode, 0);
    EXPECT_NE(keep.standardOutput.find("stays installed"), std::string::npos);
    EXPECT_EQ(log(), "");
}

TEST_F(BrewTest, OtherPackageManagersGetTheirOwnCommandLines)
{
    struct Case {
        std::vector<std::string> tools;
        std::string tap, install;
    };
    const std::vector<Case> cases = {
        {{"dnf", "rpm"}, "untouched|dnf makecache\n", "untouched|dnf install -y fuse3\n"},
        {{"zypper", "rpm"}, "untouched|zypper --non-interactive refresh\n",
         "untouched|zypper --non-interactive install fuse3\n"},
        {{"pacman"}, "untouched|pacman -Sy --noconfirm\n", "untouched|pacman -S --noconfirm --needed fuse3\n"},
    };
    for (const auto &c : cases) {
        fs::remove_all(dir / "bin");
        const std::string bin = fakeTools(c.tools);
        writeFile(dir / "log", "");
        EXPECT_EQ(brew({"tap", "macos-fuse-t/homebrew-cask"}, bin).exitCode, 0);
        EXPECT_EQ(log(), c.tap);
        writeFile(dir / "log", "");
        EXPECT_EQ(brew({"install", "--cask", "fuse-t"}, bin).exitCode, 0);
        EXPECT_EQ(log(), c.install);
    }
}

TEST_F(BrewTest, UnknownCommandLinesFailWithoutTouchingThePackageManager)
{
    const std::string bin = fakeTools({"apt-get", "dpkg-query"});
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
}

TEST_F(BrewTest, FailuresOfThePackageManagerAreReported)
{
    const auto none = brew({"install", "ntfs-3g-mac"}, dir / "empty");
    EXPECT_NE(none.exitCode, 0);
    EXPECT_NE(none.standardError.find("no supported package manager"), std::string::npos) << none.standardError;

    const std::string bin = fakeTools({"apt-get", "dpkg-query"});
    const auto failed = brew({"install", "ntfs-3g-mac"}, bin, {"FAKE_EXIT=100"});
    EXPECT_EQ(failed.exitCode, 100);
    EXPECT_NE(failed.standardError.find("installing ntfs-3g with apt-get failed"), std::string::npos)
        << failed.standardError;
    // A failed install must not pass for "already installed" in the application's eyes.
    EXPECT_EQ(failed.standardOutput.find("already installed"), std::string::npos);
}

TEST_F(BrewTest, AnOrdinaryUserGoesThroughPkexecWithTheEnvironmentSpelledOut)
{
    if (::geteuid() != 0 || !fs::exists("/usr/bin/setpriv"))
        GTEST_SKIP() << "needs root and setpriv to run the stand-in as another user";
    const std::string bin = fakeTools({"apt-get", "dpkg-query"});
    // The fake pkexec records its arguments, then either runs them (like a granted prompt) or
    // exits 126 (a dismissed one).
    writeFile(dir / "pkexec", "#!/bin/sh\nprintf 'pkexec %s\\n' \"$*\" >> \"$FAKE_LOG\"\n"
                              "[ -n \"${FAKE_DISMISS-}\" ] && exit 126\nexec env -u DEBIAN_FRONTEND \"$@\"\n");
    fs::permissions(dir / "pkexec", fs::perms::all);

    auto asNobody = [&](std::vector<std::string> extra) {
        extra.insert(extra.end(), {"QUORVEL_BREW_PM_PATH=" + bin, "QUORVEL_BREW_PKEXEC=" + dir / "pkexec",
                                   "FAKE_LOG=" + dir / "log", "FAKE_INSTALLED=" + dir / "installed"});
        return runProgram({"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                           std::string(QUORVEL_STANDINS_DIR) + "/brew", "install", "--cask", "fuse-t"},
                          extra);
    };
    const auto granted = asNobody({});
    if (granted.exitCode != 0 && granted.standardError.find("Permission denied") != std::string::npos)
        GTEST_SKIP() << "the build tree is not readable by nobody: " << granted.standardError;
    EXPECT_EQ(granted.exitCode, 0) << granted.standardError;
    EXPECT_EQ(log(), "pkexec /usr/bin/env DEBIAN_FRONTEND=noninteractive " + bin + "/apt-get install -y fuse3\n"
                     "noninteractive|apt-get install -y fuse3\n");

    writeFile(dir / "log", "");
    const auto dismissed = asNobody({"FAKE_DISMISS=1"});
    EXPECT_EQ(dismissed.exitCode, 126);
    EXPECT_NE(dismissed.standardError.find("dismissed"), std::string::npos) << dismissed.standardError;
}

} // namespace
