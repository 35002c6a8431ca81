// Volume names never alter a command or leave the mount root: the composed lines run through a
// real shell against a scratch root.
#include "disks/MountPaths.h"
#include "shell/HelperShell.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

NTFSDisk named(const QString &name)
{
    return {"disk4s1", name, 1, std::nullopt, false, "ntfs"};
}

QStringList entriesBelow(const QString &dir)
{
    QStringList out;
    QDirIterator it(dir, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        out << QDir(dir).relativeFilePath(it.next());
    out.sort();
    return out;
}

} // namespace

// The exact lines for ordinary names are DiskManagerMountTest's; these are the names it has not.
TEST(MountPaths, NamesThatWouldBeTheRootOrItsParentUseTheDeviceNodeAndSlashesBecomeDashes)
{
    const std::pair<QString, QString> rows[] = {{"", "disk4s1"}, {".", "disk4s1"}, {"..", "disk4s1"},
                                                {"/", "-"},      {"../x", "..-x"}, {"My Disk", "My Disk"}};
    for (const auto &[name, leaf] : rows)
        EXPECT_EQ(MountPaths::directory("/Volumes/", named(name)), "/Volumes/" + leaf) << name.toStdString();
}

TEST(MountPaths, HostileNamesCreateExactlyTheirDirectoryThroughARealShell)
{
    const QString hostile[] = {
        R"(quo"te)", "$(touch pwned)", "`touch pwned2`", R"(back\slash)", "new\nline", "..", ".", "",
        "../escape", "a/../../b", "$HOME", R"(\"; touch pwned3; echo \")", "'single'", "*", "-rf",
        QString::fromUtf8("データ ボリューム"), QString(255, QChar('x')), QString::fromUtf8("nul\0byte", 8),
    };
    Platform p = Platform::macOS();
    p.shell = "/bin/sh";
    HelperShell shell(p);

    for (const QString &name : hostile) {
        QTemporaryDir scratch;
        const QString root = scratch.path() + "/root/";
        ASSERT_TRUE(QDir().mkpath(root));
        const NTFSDisk disk = named(name);
        const QString dir = MountPaths::directory(root, disk);

        // Always a direct child of the mount root.
        EXPECT_EQ(QFileInfo(dir).absolutePath() + "/", root) << name.toStdString();
        EXPECT_NE(QFileInfo(dir).fileName(), "..");

        const ShellResult made = shell.run(MountPaths::mkdirLine(dir), {});
        ASSERT_TRUE(made.isSuccess) << name.toStdString() << ": " << made.output.toStdString();
        EXPECT_EQ(entriesBelow(scratch.path()), QStringList({"root", "root/" + QFileInfo(dir).fileName()}))
            << name.toStdString();
        EXPECT_TRUE(QFileInfo(dir).isDir());

        // The ntfs-3g line hands the directory over as one word, unchanged.
        const QString fake = scratch.path() + "/ntfs-3g";
        ASSERT_TRUE(testsupport::writeScript(fake, "printf '%s\\n' \"$#\" \"$2\"\n"));
        const ShellResult args = shell.run(MountPaths::ntfs3gLine(fake, disk.deviceNode, dir, "a,b"), {});
        EXPECT_EQ(args.output, "4\n" + dir) << name.toStdString();

        const ShellResult removed = shell.run(MountPaths::rmdirLine(dir), {});
        EXPECT_TRUE(removed.isSuccess) << removed.output.toStdString();
        QFile::remove(fake);
        EXPECT_EQ(entriesBelow(scratch.path()), QStringList({"root"})) << name.toStdString();
    }
}
