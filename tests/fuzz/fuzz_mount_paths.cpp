// Volume name → mount directory and command lines. The directory is always a direct child of
// the mount root, and the composed lines, run through a real shell against a scratch root,
// create exactly that directory and nothing else, and remove it again.
#include "disks/MountPaths.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include <sys/wait.h>
#include <unistd.h>

namespace {

QString scratchRoot()
{
    static const QString root = [] {
        QByteArray pattern = QDir::tempPath().toLocal8Bit() + "/quorvel-fuzz-XXXXXX";
        if (!::mkdtemp(pattern.data()))
            std::abort();
        return QString::fromLocal8Bit(pattern) + "/root/";
    }();
    return root;
}

// std::system spawns its shell with posix_spawn: a sanitized fuzzer's address space is too large
// to copy with fork.
int runShell(const QString &line)
{
    const int status = std::system(line.toUtf8().constData());
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    if (code != 0)
        std::fprintf(stderr, "shell exited with %d for: %s\n", code, qPrintable(line));
    return code;
}

QStringList entries(const QString &dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 300)
        return 0;
    const QString name = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    const NTFSDisk disk{"disk4s1", name, 1, std::nullopt, false, "ntfs"};
    const QString root = scratchRoot();
    const QString dir = MountPaths::directory(root, disk, int(size % 3));

    const QString leaf = dir.mid(root.size());
    if (!dir.startsWith(root) || leaf.isEmpty() || leaf.contains(QLatin1Char('/')) || leaf == "." || leaf == "..")
        std::abort();
    if (QFile::encodeName(leaf).size() > 255)
        return 0; // the file system refuses such a name; mkdir fails cleanly

    QDir().mkpath(root);
    const QString parent = QFileInfo(root + "..").canonicalFilePath();
    if (runShell(MountPaths::mkdirLine(dir)) != 0)
        std::abort();
    if (entries(root) != QStringList{leaf} || entries(parent) != QStringList{"root"})
        std::abort();
    if (runShell(MountPaths::rmdirLine(dir)) != 0 || !entries(root).isEmpty())
        std::abort();
    return 0;
}
