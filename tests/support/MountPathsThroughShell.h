#pragma once

// Volume names never alter a command or leave the mount root: the composed lines run through
// /bin/sh against a scratch root. Shared by the hostile-names test and its fuzzer, so it runs
// the shell through popen (posix_spawn: a sanitized fuzzer's address space is too large to copy
// with fork).
#include "disks/MountPaths.h"
#include "support/WriteScript.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdio>
#include <optional>

namespace testsupport {

// What went wrong for a volume called `name` (its numbered `variant`); nothing when all held.
inline std::optional<QString> mountPathsProblem(const QString &name, int variant = 0)
{
    QTemporaryDir scratch; // an injected command's files land here, where they are counted
    const QString root = scratch.path() + "/root/";
    const auto entries = [](const QString &dir) {
        return QDir(dir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System).join('|');
    };
    const auto run = [&](const QString &line) -> std::optional<QString> { // the output when it succeeds
        FILE *shell = ::popen(QFile::encodeName("cd '" + scratch.path() + "' && " + line).constData(), "r");
        if (!shell)
            return std::nullopt;
        QByteArray output(4096, '\0');
        output.truncate(qsizetype(std::fread(output.data(), 1, output.size(), shell)));
        return ::pclose(shell) == 0 ? std::optional(QString::fromUtf8(output)) : std::nullopt;
    };
    const QString dir = MountPaths::directory(root, {"disk4s1", name, 1, std::nullopt, false, "ntfs"}, variant);
    const QString leaf = QFileInfo(dir).fileName();
    if (QFileInfo(dir).absolutePath() + "/" != root || leaf == ".." || leaf == ".")
        return "not a direct child of the mount root: " + dir;
    if (QFile::encodeName(leaf).size() > 255)
        return std::nullopt; // the file system refuses such a name; mkdir fails cleanly
    if (!scratch.isValid() || !QDir().mkpath(root))
        return "cannot make the scratch root " + root;
    if (!run(MountPaths::mkdirLine(dir)) || entries(scratch.path()) != "root" || entries(root) != leaf)
        return "mkdir made " + entries(scratch.path()) + " and in the root " + entries(root);
    // The ntfs-3g line hands the directory over as one word, unchanged.
    const QString fake = scratch.filePath("ntfs-3g");
    if (!writeScript(fake, "printf '%s\\n' \"$#\" \"$2\"\n"))
        return "cannot write a fake ntfs-3g";
    if (const auto said = run(MountPaths::ntfs3gLine(fake, "disk4s1", dir, "a,b")); said != "4\n" + dir + "\n")
        return "ntfs-3g was given " + said.value_or("(failed)");
    QFile::remove(fake);
    if (!run(MountPaths::rmdirLine(dir)) || entries(scratch.path()) != "root" || !entries(root).isEmpty())
        return "rmdir left " + entries(scratch.path()) + " and in the root " + entries(root);
    return std::nullopt;
}

} // namespace testsupport
