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

// Logs "DEBIAN_FRONTEND|arguments" for every call but the queries, which it answers from the list
// of installed packages; fails with FAKE_EXIT (100 unless set) when the arguments match the
// pattern FAKE_FAIL; lists FAKE_NEEDS as needing the package in the removal dry runs, each in its
// manager's words; adds what it installs to the list.
constexpr const char *fakeManager = R"sh(#!/bin/sh
for last; do :; done
tool=$(basename "$0")
case "$tool $1" in
  "dpkg-query "*|"rpm -q"|"pacman -Q")
    grep -qx "$last" "$FAKE_INSTALLED" || exit 1
    [ "$tool" = dpkg-query ] && printf 'install ok installed'
    exit 0 ;;
esac
printf '%s|%s %s\n' "${DEBIAN_FRONTEND-}" "$tool" "$*" >> "$FAKE_LOG"
case "$*" in ${FAKE_FAIL-}) exit "${FAKE_EXIT:-100}" ;; esac
case "$tool $*" in
  "apt-get -s "*) for name in "$last" ${FAKE_NEEDS-}; do echo "Remv $name [1.0-1]"; done ;;
  "rpm -e "*)
    for name in ${FAKE_NEEDS-}; do printf '\t%s is needed by (installed) %s-1.0-1.x86_64\n' "$last" "$name" >&2; done
    [ -z "${FAKE_NEEDS-}" ] ;;
  "pacman -R --print "*)
    for name in ${FAKE_NEEDS-}; do echo ":: removing $last breaks dependency '$last' required by $name" >&2; done
    [ -z "${FAKE_NEEDS-}" ] && echo "$last" ;;
  *" install "*|"pacman -S "*) for word; do case $word in -*|install) ;; *) echo "$word" >> "$FAKE_INSTALLED" ;; esac; done ;;
esac
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

TEST_F(BrewTest, EachKnownCommandLineDrivesEveryPackageManager)
{
    struct Case {
        std::vector<std::string> tools;
        std::string installed;
        std::vector<std::string> args;
        std::string log, says;
        std::vector<std::string> env = {};
        int exitCode = 0;
    };
    const std::string both = "fuse3\nntfs-3g\n", needs = "FAKE_NEEDS=quorvel-ntfs-mount foo", update = "noninteractive|apt-get update\n",
                      refused = "removing ntfs-3g would also remove quorvel-ntfs-mount, foo; nothing was removed",
                      aptDry = "untouched|apt-get -s remove ntfs-3g\n", rpmDry = "untouched|rpm -e --test ntfs-3g\n",
                      pacmanDry = "untouched|pacman -R --print --print-format %n ntfs-3g\n";
    const std::vector<std::string> dnf = {"dnf", "rpm"}, zypper = {"zypper", "rpm"}, pacman = {"pacman"};
    const Case cases[] = {
        {apt, "", tap, "", "nothing to tap"},
        // One install brings in all that is missing, so that the setup asks for the password once.
        {apt, "", installFuse, update + "noninteractive|apt-get install -y fuse3 ntfs-3g\n", "installed fuse3"},
        {apt, "fuse3\n", installNtfs, update + "noninteractive|apt-get install -y ntfs-3g\n", "installed ntfs-3g"},
        // Offline, or one mirror down: the index already here may still do.
        {apt, "", installNtfs, update + "noninteractive|apt-get install -y ntfs-3g fuse3\n",
         "installing from the index this machine already has", {"FAKE_FAIL=update"}},
        {apt, "", removeNtfs, "", "not installed"},
        {apt, both, installNtfs, "", "already installed"},
        {apt, both, removeNtfs, aptDry + "noninteractive|apt-get remove -y ntfs-3g\n", "removed ntfs-3g"},
        {apt, both, removeNtfs, aptDry, refused, {needs}, 1},
        {apt, both, removeNtfs, aptDry, "could not tell", {"FAKE_FAIL=-s*"}, 1},
        {apt, both, removeFuse, "", "stays installed"}, // other parts of the system use FUSE
        {dnf, "", installFuse, "untouched|dnf makecache\nuntouched|dnf install -y fuse3 ntfs-3g\n", ""},
        {dnf, both, removeNtfs, rpmDry + "untouched|dnf remove -y --setopt=clean_requirements_on_remove=False ntfs-3g\n", ""},
        {dnf, both, removeNtfs, rpmDry, refused, {needs}, 1},
        {dnf, both, removeNtfs, rpmDry, "could not tell", {"FAKE_FAIL=-e*"}, 1},
        {zypper, "", installFuse,
         "untouched|zypper --non-interactive refresh\nuntouched|zypper --non-interactive install fuse3 ntfs-3g\n", ""},
        {zypper, both, removeNtfs, rpmDry + "untouched|zypper --non-interactive remove --no-clean-deps ntfs-3g\n", ""},
        // No -Sy: refreshing without the full upgrade is the partial upgrade Arch does not support.
        {pacman, "", tap, "", "sync database"},
        {pacman, "", installFuse, "untouched|pacman -S --noconfirm --needed fuse3 ntfs-3g\n", ""},
        {pacman, both, removeNtfs, pacmanDry + "untouched|pacman -R --noconfirm ntfs-3g\n", ""},
        {pacman, both, removeNtfs, pacmanDry, refused, {needs}, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.tools.front() + " " + c.args.front() + " " + c.args.back() + " [" + c.installed + "] " + c.log);
        const auto run = brew(c.args, machine(c.tools, c.installed), c.env);
        EXPECT_EQ(run.exitCode, c.exitCode) << run.standardError;
        EXPECT_EQ(log(), c.log);
        EXPECT_NE((run.standardOutput + run.standardError).find(c.says), std::string::npos) << run.standardOutput << run.standardError;
    }
}

TEST_F(BrewTest, UnknownCommandLinesAndPackageManagerFailuresAreReported)
{
    const std::string bin = machine(apt);
    // "--cask fuse-t" is two words, not three; the privileged half installs what we need, nothing else.
    for (const std::vector<std::string> &args : std::vector<std::vector<std::string>>{
             {}, {"install", "fuse-t"}, {"install", "--cask fuse-t"}, {"install", "--cask", "fuse-t", "extra"},
             {"tap", "someone/else"}, {"upgrade"}, {"uninstall", "--cask", "macfuse"}, {"--as-root", "install"},
             {"--as-root", "install", "fuse3", "bash"}}) {
        const auto run = brew(args, bin);
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_NE(run.standardError.find("brew: unsupported command line"), std::string::npos) << run.standardError;
    }
    EXPECT_EQ(log(), "");

    const auto none = brew(installNtfs, dir / "empty");
    EXPECT_NE(none.exitCode, 0);
    EXPECT_NE(none.standardError.find("no supported package manager"), std::string::npos) << none.standardError;
    const auto failed = brew(installNtfs, bin, {"FAKE_FAIL=*"});
    EXPECT_EQ(failed.exitCode, 100);
    EXPECT_NE(failed.standardError.find("installing ntfs-3g, fuse3 with apt-get failed (exit status 100)"), std::string::npos)
        << failed.standardError;
    EXPECT_NE(failed.standardError.find("could not be refreshed either"), std::string::npos) << failed.standardError;
    // A failed install must not pass for "already installed" in the application's eyes.
    EXPECT_EQ(failed.standardOutput.find("already installed"), std::string::npos);
}

TEST_F(BrewTest, AnOrdinaryUserIsAskedForThePasswordOncePerSetupThroughPkexec)
{
    const bool root = ::geteuid() == 0;
    if (root && !fs::exists("/usr/bin/setpriv"))
        GTEST_SKIP() << "needs setpriv to run the stand-in as another user than root";
    // The fake pkexec records its arguments, then behaves as `FAKE_PKEXEC` says, or runs them
    // without the variables the stand-in has to spell out (like a granted prompt).
    writeFile(dir / "pkexec", "#!/bin/sh\nprintf 'pkexec %s\\n' \"$*\" >> \"$FAKE_LOG\"\nwhy='Error executing command as another user'\n"
                              "case ${FAKE_PKEXEC-} in\n  dismiss) exit 126 ;;\n"
                              "  no-agent) echo \"$why: No authentication agent found.\" >&2; exit 127 ;;\n"
                              "  denied) printf '%s: Not authorized\\n\\nThis incident has been reported.\\n' \"$why\" >&2; exit 127 ;;\n"
                              "esac\nexec env -u DEBIAN_FRONTEND -u QUORVEL_BREW_PM_PATH \"$@\"\n");
    std::string bin = machine(apt);
    // This user when it is not root, nobody otherwise.
    auto asUser = [&](const std::vector<std::string> &args, std::vector<std::string> env = {}) {
        std::vector<std::string> argv{std::string(QUORVEL_STANDINS_DIR) + "/brew"};
        argv.insert(argv.end(), args.begin(), args.end());
        if (root)
            argv.insert(argv.begin(), {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
        env.insert(env.end(), {"DEBIAN_FRONTEND=", "QUORVEL_BREW_PM_PATH=" + bin, "QUORVEL_BREW_PKEXEC=" + dir / "pkexec",
                               "FAKE_LOG=" + dir / "log", "FAKE_INSTALLED=" + dir / "installed"});
        return runProgram(argv, env);
    };
    const auto tapped = asUser(tap);
    if (tapped.exitCode != 0 && tapped.standardError.find("Permission denied") != std::string::npos)
        GTEST_SKIP() << "the build tree is not readable by nobody: " << tapped.standardError;
    EXPECT_EQ(tapped.exitCode, 0) << tapped.standardError;
    const auto fuse = asUser(installFuse), ntfs = asUser(installNtfs);
    EXPECT_EQ(fuse.exitCode, 0) << fuse.standardError;
    EXPECT_EQ(ntfs.exitCode, 0) << ntfs.standardError;
    EXPECT_NE(ntfs.standardOutput.find("ntfs-3g-mac: ntfs-3g is already installed."), std::string::npos) << ntfs.standardOutput;
    const std::string self = fs::canonical(QUORVEL_STANDINS_DIR).string() + "/brew";
    EXPECT_EQ(log(), "pkexec /usr/bin/env QUORVEL_BREW_PM_PATH=" + bin + " " + self + " --as-root install fuse3 ntfs-3g\n"
                     "noninteractive|apt-get update\nnoninteractive|apt-get install -y fuse3 ntfs-3g\n");

    // The dry run needs no password; only the removal itself does.
    writeFile(dir / "log", "");
    EXPECT_EQ(asUser(removeNtfs).exitCode, 0);
    EXPECT_EQ(log(), "|apt-get -s remove ntfs-3g\npkexec /usr/bin/env DEBIAN_FRONTEND=noninteractive " + bin
                         + "/apt-get remove -y ntfs-3g\nnoninteractive|apt-get remove -y ntfs-3g\n");

    // pkexec exits 127 for a missing agent, a refusal and a command not found, and 126 for a
    // dismissed prompt and a command that could not run: its words tell which, and each outcome
    // says its own reason only.
    struct Outcome {
        std::vector<std::string> env;
        int exitCode;
        std::string says;
    };
    const Outcome outcomes[] = {
        {{"FAKE_PKEXEC=dismiss"}, 126, "the administrator authentication was dismissed"},
        {{"FAKE_PKEXEC=no-agent"}, 127, "no polkit authentication agent is running, so the administrator password could not be"},
        {{"FAKE_PKEXEC=denied"}, 127, "you are not authorized"},
        {{"FAKE_FAIL=*", "FAKE_EXIT=127"}, 127, "installing fuse3, ntfs-3g with apt-get failed (exit status 127)"},
        {{"FAKE_FAIL=*", "FAKE_EXIT=126"}, 126, "installing fuse3, ntfs-3g with apt-get failed (exit status 126)"},
    };
    for (const Outcome &o : outcomes) {
        SCOPED_TRACE(o.env.front());
        bin = machine(apt);
        const auto run = asUser(installFuse, o.env);
        EXPECT_EQ(run.exitCode, o.exitCode);
        for (const Outcome &other : outcomes)
            EXPECT_EQ(run.standardError.find(other.says) != std::string::npos, &other == &o) << run.standardError;
    }
}

} // namespace
