// Volume names never alter a command or leave the mount root: the composed lines run through a
// real shell against a scratch root.
#include "disks/MountPaths.h"
#include "shell/HelperShell.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

TEST(MountPaths, HostileNamesCreateExactlyTheirDirectoryThroughARealShell)
{
    const QString hostile[] = {
        R"(quo"te)", "$(touch pwned)", "`touch pwned2`", R"(back\slash)", "new\nline", "..", ".", "",
        "../escape", "a/../../b", "$HOME", R"(\"; touch pwned3; echo \")", "'single'", "*", "-rf",
        QString::fromUtf8("データ ボリューム"), QString(255, QChar('x')), QString::fromUtf8("nul\0byte", 8),
    };
    HelperShell shell(testsupport::linuxProfile());
    const auto entries = [](const QString &dir) {
        return QDir(dir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    };
    for (const QString &name : hostile) {
        SCOPED_TRACE(name.toStdString());
        QTemporaryDir scratch;
        const QString root = scratch.path() + "/root/";
        ASSERT_TRUE(QDir().mkpath(root));
        // An injected command's files land where they are counted, not in the working tree.
        const QString home = QDir::currentPath();
        QDir::setCurrent(scratch.path());
        const QString dir = MountPaths::directory(root, {"disk4s1", name, 1, std::nullopt, false, "ntfs"});
        const QString leaf = QFileInfo(dir).fileName();
        // Always a direct child of the mount root.
        EXPECT_EQ(QFileInfo(dir).absolutePath() + "/", root);
        EXPECT_NE(leaf, "..");

        const ShellResult made = shell.run(MountPaths::mkdirLine(dir), {});
        ASSERT_TRUE(made.isSuccess) << made.output.toStdString();
        EXPECT_EQ(entries(scratch.path()), QStringList({"root"}));
        EXPECT_EQ(entries(root), QStringList({leaf}));
        // The ntfs-3g line hands the directory over as one word, unchanged.
        const QString fake = scratch.path() + "/ntfs-3g";
        ASSERT_TRUE(testsupport::writeScript(fake, "printf '%s\\n' \"$#\" \"$2\"\n"));
        EXPECT_EQ(shell.run(MountPaths::ntfs3gLine(fake, "disk4s1", dir, "a,b"), {}).output, "4\n" + dir);
        EXPECT_TRUE(shell.run(MountPaths::rmdirLine(dir), {}).isSuccess);
        QFile::remove(fake);
        EXPECT_EQ(entries(scratch.path()), QStringList({"root"}));
        EXPECT_TRUE(entries(root).isEmpty());
        QDir::setCurrent(home);
    }
}
