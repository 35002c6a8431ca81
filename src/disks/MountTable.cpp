#include "disks/MountTable.h"

#include "disks/MountPaths.h"
#include "platform/standins/MountInfo.h"

#include <QRegularExpression>

namespace MountTable {
namespace {

const QString kOn = QStringLiteral(" on ");

struct MountLine {
    QString source;
    QString directory;
    QString options;
};

// The source, directory and option text of one line, or nothing when it lacks " on " or "(".
std::optional<MountLine> parseLine(const QString &line)
{
    const qsizetype firstOn = line.indexOf(kOn);
    if (firstOn < 0)
        return std::nullopt;
    // The text after the first " on ", up to a second one.
    const qsizetype pieceStart = firstOn + kOn.size();
    const qsizetype secondOn = line.indexOf(kOn, pieceStart);
    const QString piece = line.mid(pieceStart, secondOn < 0 ? -1 : secondOn - pieceStart);
    const qsizetype paren = piece.indexOf(QLatin1Char('('));
    if (paren < 0)
        return std::nullopt;
    return MountLine{line.left(firstOn), piece.left(paren).trimmed(), piece.mid(paren).trimmed()};
}

bool concerns(const MountLine &mount, const NTFSDisk &disk, const QString &mountRoot)
{
    if (mount.source == disk.devicePath())
        return true;
    if (mount.source.startsWith(NTFSDisk::kDeviceDirectory))
        return false;
    return MountPaths::isMountDirectoryFor(mountRoot, disk, mount.directory);
}

// The writability of a mount from its option text (from "(" on).
bool isWritableOptions(const QString &options, bool fuseMountsAreWritable)
{
    bool writable = options.contains(QStringLiteral("readwrite")) || options.contains(QStringLiteral("writable"))
        || !options.contains(QStringLiteral("read-only"));
    // The file-system type is the first word: "(fuseblk, read-only, …)".
    const QString type = options.mid(1).section(QLatin1Char(','), 0, 0).section(QLatin1Char(')'), 0, 0).trimmed();
    if (fuseMountsAreWritable
        && (standins::isFuseType(type.toStdString()) || options.contains(QStringLiteral("nfs"))))
        writable = true;
    return writable;
}

} // namespace

QList<NTFSDisk> apply(QList<NTFSDisk> disks, const QString &listing, const QString &mountRoot,
                      bool fuseMountsAreWritable)
{
    if (disks.isEmpty())
        return disks;
    // Every line-break character ends a line (a CR LF pair leaves an empty line between).
    static const QRegularExpression lineBreak(
        QStringLiteral("[\\n\\r\\x{000B}\\x{000C}\\x{0085}\\x{2028}\\x{2029}]"));
    QList<MountLine> mounts;
    for (const QString &line : listing.split(lineBreak)) {
        if (auto mount = parseLine(line))
            mounts.append(*mount);
    }
    for (NTFSDisk &disk : disks) {
        for (const MountLine &mount : mounts) {
            if (!concerns(mount, disk, mountRoot))
                continue;
            disk.mountPoint = mount.directory;
            disk.isWritable = isWritableOptions(mount.options, fuseMountsAreWritable);
        }
    }
    return disks;
}

} // namespace MountTable
