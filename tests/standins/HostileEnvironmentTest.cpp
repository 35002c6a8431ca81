// The stand-ins as installed, run with a hostile environment (as root where the suite runs as
// root): the variables that move the tests' build of them elsewhere are ignored.
#include "StandinHarness.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace standins;
using namespace standins::testing;

namespace {

TEST(HostileEnvironmentTest, InstalledStandinsIgnoreTablesAndToolsNamedInTheEnvironment)
{
    const std::string installed = QUORVEL_TEST_BUILD_LIBEXEC;
    TempDir dir;
    // A device that a made-up sysfs knows, mounted on the scratch directory by a made-up table:
    // followed, they would have the unmount act on that directory.
    writeFile(dir / "sys/class/block/sdz1/dev", "8:99\n");
    writeFile(dir / "sys/class/block/sdz1/size", "2048\n");
    writeFile(dir / "mountinfo", "70 27 8:99 / " + dir.path() + " rw - tmpfs /dev/sdz1 rw\n");
    const std::vector<std::string> tables = {"QUORVEL_SYSFS_ROOT=" + dir / "sys", "QUORVEL_MOUNTINFO=" + dir / "mountinfo"};
    EXPECT_EQ(runProgram({installed + "/diskutil", "unmount", "/dev/sdz1"}, tables).standardError,
              "diskutil: Could not find disk: /dev/sdz1\n");
    EXPECT_EQ(runProgram({installed + "/mount"}, tables).standardOutput.find(dir.path()), std::string::npos);

    // Package-manager tools and a pkexec that leave a mark when run: with the system's dpkg-query
    // brew finds both packages installed and runs nothing. Elsewhere it would install them.
    if (sh("dpkg-query -W -f='${Status}\\n' fuse3 ntfs-3g").standardOutput != "install ok installed\ninstall ok installed\n")
        GTEST_SKIP() << "needs fuse3 and ntfs-3g installed through dpkg";
    for (const char *tool : {"dpkg-query", "apt-get", "pkexec"})
        writeFile(dir / tool, "#!/bin/sh\necho \"$0 $*\" >> " + dir / "log" + "\n");
    step("chmod a+x " + dir / "*");
    const auto brew = runProgram({installed + "/brew", "install", "ntfs-3g-mac"},
                                 {"QUORVEL_BREW_PM_PATH=" + dir.path(), "QUORVEL_BREW_PKEXEC=" + dir / "pkexec"});
    EXPECT_EQ(brew.standardOutput, "ntfs-3g-mac: ntfs-3g is already installed.\n") << brew.standardError;
    EXPECT_FALSE(std::filesystem::exists(dir / "log"));
}

} // namespace
