// The Homebrew stand-in's dispatch, against fake package managers that only record their calls.
#include "StandinHarness.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <tuple>

#include <unistd.h>

using namespace standins;
using namespace standins::testing;
namespace fs = std::filesystem;

namespace {

// Logs "DEBIAN_FRONTEND|arguments" for every call but the queries, which it answers from the list
// of installed packages; fails with FAKE_EXIT (100 unless set) when the arguments match FAKE_FAIL; names
// FAKE_NEEDS as needing the package in the removal dry runs, in each manager's words; adds what
// it installs to the list.
constexpr const char *fakeManager = R"sh(#!/bin/sh
for last; do :; done
tool=$(basename "$0")
case "$tool $1" in
  "dpkg-query "*) grep -qx "$last" "$FAKE_INSTALLED" && printf 'install ok installed'; exit ;;
  "rpm -q"|"pacman -Q") grep -qx "$last" "$FAKE_INSTALLED"; exit ;;
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

using Words = std::vector<std::string>;
const Words apt = {"apt-get", "dpkg-query"}, tap = {"tap", "macos-fuse-t/homebrew-cask"},
            installFuse = {"install", "--cask", "fuse-t"}, installNtfs = {"install", "ntfs-3g-mac"},
            removeNtfs = {"uninstall", "ntfs-3g-mac"};

class BrewTest : public ::testing::Test {
protected:
    // The fake `tools` in a directory of their own (none: no directory), the `installed` packages
    // and no log yet, open to every user (one case runs as another).
    void machine(const Words &tools, const std::string &installed = "")
    {
        fs::remove_all(dir / "bin");
        fs::remove(dir / "log");
        for (const auto &name : tools)
            writeFile(dir / ("bin/" + name), fakeManager);
        writeFile(dir / "installed", installed);
        sh("chmod -R a+rwx '" + dir.path() + "'");
    }

    // brew pointed at the fake tools and at a pkexec of the test's own, run after `before` (as
    // another user, say), with `more` of the environment.
    ProgramResult brew(const Words &args, const Words &more = {}, const Words &before = {}) const
    {
        Words env = {"QUORVEL_BREW_PM_PATH=" + dir / "bin", "QUORVEL_BREW_PKEXEC=" + dir / "pkexec",
                     "FAKE_LOG=" + dir / "log", "FAKE_INSTALLED=" + dir / "installed", "DEBIAN_FRONTEND=untouched"};
        env.insert(env.end(), more.begin(), more.end());
        return runStandin("brew", args, env, before);
    }

    std::string log() const
    {
        std::ifstream in(dir / "log");
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    TempDir dir;
};

TEST_F(BrewTest, EachKnownCommandLineDrivesEveryPackageManager)
{
    struct Case {
        Words tools;
        std::string installed;
        Words args;
        std::string log, says, env = "";
        int exitCode = 0;
    };
    const std::string both = "fuse3\nntfs-3g\n", needs = "FAKE_NEEDS=quorvel-ntfs-mount foo",
                      update = "noninteractive|apt-get update\n", aptDry = "untouched|apt-get -s remove ntfs-3g\n",
                      refused = "removing ntfs-3g would also remove quorvel-ntfs-mount, foo; nothing was removed",
                      rpmDry = "untouched|rpm -e --test ntfs-3g\n", pacmanDry = "untouched|pacman -R --print --print-format %n ntfs-3g\n";
    const Words dnf = {"dnf", "rpm"}, zypper = {"zypper", "rpm"}, pacman = {"pacman"};
    const Case cases[] = {
        {apt, "", tap, "", "nothing to tap"},
        // One install brings in all that is missing, so that the setup asks for the password once
        // (nothing missing, and apt-get's removal, are the ordinary user's test's).
        {apt, "fuse3\n", installNtfs, update + "noninteractive|apt-get install -y ntfs-3g\n", "installed ntfs-3g"},
        // Offline, or one mirror down: the index already here may still do.
        {apt, "", installNtfs, update + "noninteractive|apt-get install -y ntfs-3g fuse3\n",
         "installing from the index this machine already has", "FAKE_FAIL=update"},
        {apt, "", installNtfs, update + "noninteractive|apt-get install -y ntfs-3g fuse3\n",
         "fuse3 with apt-get failed (exit status 100)\nbrew: the package index could not be refreshed either", "FAKE_FAIL=*", 100},
        {apt, "", removeNtfs, "", "not installed"},
        {apt, both, removeNtfs, aptDry, refused, needs, 1},
        {apt, both, removeNtfs, aptDry, "could not tell", "FAKE_FAIL=-s*", 1},
        {apt, both, {"uninstall", "--cask", "fuse-t"}, "", "stays installed"}, // other parts of the system use FUSE
        {{}, "", installNtfs, "", "no supported package manager", "", 1},
        {dnf, "", installFuse, "untouched|dnf makecache\nuntouched|dnf install -y fuse3 ntfs-3g\n", ""},
        {dnf, both, removeNtfs, rpmDry + "untouched|dnf remove -y --setopt=clean_requirements_on_remove=False ntfs-3g\n", ""},
        {dnf, both, removeNtfs, rpmDry, refused, needs, 1},
        {dnf, both, removeNtfs, rpmDry, "could not tell", "FAKE_FAIL=-e*", 1},
        {zypper, "", installFuse,
         "untouched|zypper --non-interactive refresh\nuntouched|zypper --non-interactive install fuse3 ntfs-3g\n", ""},
        {zypper, both, removeNtfs, rpmDry + "untouched|zypper --non-interactive remove --no-clean-deps ntfs-3g\n", ""},
        // No -Sy: refreshing without the full upgrade is the partial upgrade Arch does not support.
        {pacman, "", tap, "", "sync database"},
        {pacman, "", installFuse, "untouched|pacman -S --noconfirm --needed fuse3 ntfs-3g\n", ""},
        {pacman, both, removeNtfs, pacmanDry + "untouched|pacman -R --noconfirm ntfs-3g\n", ""},
        {pacman, both, removeNtfs, pacmanDry, refused, needs, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.args.front() + " " + c.args.back() + " [" + c.installed + "] " + c.log + c.env);
        machine(c.tools, c.installed);
        const auto run = brew(c.args, {c.env});
        EXPECT_EQ(run.exitCode, c.exitCode) << run.standardError;
        EXPECT_EQ(log(), c.log);
        EXPECT_NE((run.standardOutput + run.standardError).find(c.says), std::string::npos) << run.standardOutput << run.standardError;
    }
    // "--cask fuse-t" is two words, not three; the privileged half installs what we need, nothing else.
    machine(apt);
    for (const Words &args : std::vector<Words>{{}, {"install", "fuse-t"}, {"install", "--cask fuse-t"},
                                                {"install", "--cask", "fuse-t", "extra"}, {"tap", "someone/else"},
                                                {"uninstall", "--cask", "macfuse"}, {"--as-root", "install"},
                                                {"--as-root", "install", "fuse3", "bash"}}) {
        const auto run = brew(args);
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_EQ(run.standardError.rfind("brew: unsupported command line", 0), 0u) << run.standardError;
    }
    EXPECT_EQ(log(), "");
}

// An ordinary user is asked once per setup, through pkexec, and the dry run needs no password.
TEST_F(BrewTest, AnOrdinaryUserIsAskedForThePasswordOncePerSetupThroughPkexec)
{
    const bool root = ::geteuid() == 0;
    if (root && !fs::exists("/usr/bin/setpriv"))
        GTEST_SKIP() << "needs setpriv to run the stand-in as another user than root";
    // Records its arguments, then behaves as FAKE_PKEXEC says, or runs them as a granted prompt
    // does; it keeps the tests' QUORVEL_BREW_PM_PATH, the way to the fakes.
    writeFile(dir / "pkexec", "#!/bin/sh\nprintf 'pkexec %s\\n' \"$*\" >> \"$FAKE_LOG\"\nwhy='Error executing command as another user'\n"
                              "case ${FAKE_PKEXEC-} in\n  dismiss) exit 126 ;;\n"
                              "  no-agent) echo \"$why: No authentication agent found.\" >&2; exit 127 ;;\n"
                              "  denied) printf '%s: Not authorized\\n\\nThis incident has been reported.\\n' \"$why\" >&2; exit 127 ;;\n"
                              "esac\nexec env -u DEBIAN_FRONTEND \"$@\"\n");
    machine(apt);
    // This user when not root, nobody otherwise.
    const Words user = root ? Words{"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"} : Words{};
    const auto fuse = brew(installFuse, {}, user);
    if (fuse.exitCode != 0 && fuse.standardError.find("Permission denied") != std::string::npos)
        GTEST_SKIP() << "the build tree is not readable by nobody: " << fuse.standardError;
    EXPECT_EQ(fuse.exitCode, 0) << fuse.standardError;
    // Finds ntfs-3g installed with fuse3, so the log shows no second prompt.
    brew(installNtfs, {}, user);
    const std::string bin = dir / "bin", self = fs::canonical(QUORVEL_STANDINS_DIR).string() + "/brew";
    EXPECT_EQ(log(), "pkexec " + self + " --as-root install fuse3 ntfs-3g\n"
                     "noninteractive|apt-get update\nnoninteractive|apt-get install -y fuse3 ntfs-3g\n");
    fs::remove(dir / "log");
    EXPECT_EQ(brew(removeNtfs, {}, user).exitCode, 0);
    EXPECT_EQ(log(), "untouched|apt-get -s remove ntfs-3g\npkexec /usr/bin/env DEBIAN_FRONTEND=noninteractive " + bin
                         + "/apt-get remove -y ntfs-3g\nnoninteractive|apt-get remove -y ntfs-3g\n");

    // pkexec exits 127 for a missing agent, a refusal and a command not found, and 126 for a
    // dismissed prompt and a command that could not run: each outcome says its own reason only.
    // Every package manager call fails, for the prompts that get that far.
    const std::tuple<std::string, int, std::string> outcomes[] = {
        {"FAKE_PKEXEC=dismiss", 126, "the administrator authentication was dismissed"},
        {"FAKE_PKEXEC=no-agent", 127, "no polkit authentication agent is running, so the administrator password could not be"},
        {"FAKE_PKEXEC=denied", 127, "you are not authorized"},
        {"FAKE_EXIT=127", 127, "installing fuse3, ntfs-3g with apt-get failed (exit status 127)"},
        {"FAKE_EXIT=126", 126, "installing fuse3, ntfs-3g with apt-get failed (exit status 126)"},
    };
    for (const auto &[more, exitCode, says] : outcomes) {
        SCOPED_TRACE(more);
        machine(apt);
        const auto run = brew(installFuse, {more, "FAKE_FAIL=*"}, user);
        EXPECT_EQ(run.exitCode, exitCode);
        for (const auto &other : outcomes)
            EXPECT_EQ(run.standardError.find(std::get<2>(other)) != std::string::npos, &std::get<2>(other) == &says)
                << run.standardError;
    }
}

} // namespace
