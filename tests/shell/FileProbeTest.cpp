// The real file system's answer to "is this mount directory taken?".
#include "shell/FileProbe.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

// Under a scratch mount root: only a missing name or a plain empty directory is free. A symbolic
// link, even one to a free directory, is taken, so a mount never goes through it.
TEST(SystemFileProbe, OnlyAMissingNameOrARealDirectoryIsAFreeMountDirectory)
{
    QTemporaryDir root;
    const QDir dir(root.path());
    ASSERT_TRUE(dir.mkdir("empty"));
    ASSERT_TRUE(QFile::link(dir.filePath("empty"), dir.filePath("cdrom")));
    ASSERT_TRUE(QFile::link(dir.filePath("gone"), dir.filePath("dangling")));
    ASSERT_TRUE(QFile(dir.filePath("file")).open(QIODevice::WriteOnly));

    const std::pair<QString, bool> rows[] = {
        {dir.filePath("empty"), false},
        {dir.filePath("missing"), false},
        {dir.filePath("file/below"), false}, // ENOTDIR: nothing can be there yet
        {dir.filePath("cdrom"), true},
        {dir.filePath("dangling"), true},
        {dir.filePath("file"), true},
        {"/proc", true},
    };
    for (const auto &[path, taken] : rows)
        EXPECT_EQ(SystemFileProbe().isMountPoint(path), taken) << path.toStdString();
}
