#pragma once

// Small builders for the disk utility's XML property lists, and a realistic listing.
#include <QByteArray>
#include <QString>
#include <QStringList>

#include <initializer_list>
#include <utility>

namespace fixtures {

inline QString str(QString text)
{
    return "<string>" + text.replace('&', "&amp;").replace('<', "&lt;").replace('>', "&gt;") + "</string>";
}
inline QString array(const QStringList &items) { return "<array>" + items.join("") + "</array>"; }
inline QString dict(std::initializer_list<std::pair<QString, QString>> entries)
{
    QString out = "<dict>";
    for (const auto &[key, value] : entries)
        out += "<key>" + key + "</key>" + value;
    return out + "</dict>";
}
inline QByteArray plist(const QString &root)
{
    return ("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
            "<plist version=\"1.0\">\n" + root + "\n</plist>\n").toUtf8();
}
inline QString partition(const QString &id, qint64 size, const QString &content)
{
    return dict({{"Content", str(content)}, {"DeviceIdentifier", str(id)}, {"Size", "<integer>" + QString::number(size) + "</integer>"}});
}
inline QByteArray listing(const QStringList &disks)
{
    return plist(dict({{"AllDisksAndPartitions", array(disks)}, {"AllDisks", array({})}}));
}

// An internal APFS disk, an external MBR disk with two NTFS partitions, a FAT one and two NTFS
// ones whose identifiers would change a command line, a GPT disk with EFI and a Basic Data
// partition, and an NTFS disk without a partition table.
inline QByteArray realisticListing()
{
    const auto disk = [](const QString &id, const QString &content, const QStringList &partitions) {
        return dict({{"Content", str(content)}, {"DeviceIdentifier", str(id)}, {"Partitions", array(partitions)}});
    };
    return listing({disk("disk0", "GUID_partition_scheme",
                         {partition("disk0s1", 524288000, "EFI"), partition("disk0s2", 499753459712, "Apple_APFS")}),
                    disk("disk4", "FDisk_partition_scheme",
                         {partition("disk4s1", 1000204886016, "Windows_NTFS"), partition("disk4s2", 500000000000, "DOS_FAT_32"),
                          partition("disk4s3", 500000000000, "Windows_NTFS"), partition("disk4s4;reboot", 1, "Windows_NTFS"),
                          partition("../sda", 1, "Windows_NTFS")}),
                    disk("disk5", "GUID_partition_scheme",
                         {partition("disk5s1", 209715200, "EFI"), partition("disk5s2", 63813500928, "Microsoft Basic Data")}),
                    partition("disk6", 32017047552, "Windows_NTFS")});
}

inline QByteArray detail(std::initializer_list<std::pair<QString, QString>> entries)
{
    return plist(dict(entries));
}

} // namespace fixtures
