#pragma once

#include <QList>
#include <QString>

#include <cstddef>
#include <functional>
#include <optional>

// One NTFS partition, as discovery builds it and every view shows it.
struct NTFSDisk {
    // Where device nodes live: a device's path is this and its identifier.
    static inline const QString kDeviceDirectory = QStringLiteral("/dev/");
    // The name of a volume that has none of its own.
    static inline const QString kUntitledName = QStringLiteral("Untitled NTFS Drive");

    QString deviceNode;                // disk identifier without the device directory, e.g. disk4s1
    QString volumeName;                // the volume's name, kUntitledName when it has none
    qint64 size = 0;                   // bytes
    std::optional<QString> mountPoint; // absent when not mounted
    bool isWritable = false;
    QString filesystem;

    // Identity for lists and selections: the same partition before and after a mount.
    QString id() const { return deviceNode; }
    QString devicePath() const { return kDeviceDirectory + deviceNode; }

    // A device identifier that may stand unquoted on a shell line: letters, digits, ".", "_"
    // and "-", and neither "." nor "..".
    static bool isSafeDeviceIdentifier(const QString &identifier);

    // Size in decimal gigabytes or terabytes ("0.5 GB", "1.5 TB").
    QString formattedSize() const;

    // Equality covers all six fields; texts compare as canonically equivalent Unicode.
    friend bool operator==(const NTFSDisk &a, const NTFSDisk &b);
};

size_t qHash(const NTFSDisk &disk, size_t seed = 0) noexcept;

// Byte count as display text in GB, or TB from 1,000 GB on (decimal units).
QString formatDecimalGigabytes(qint64 bytes);

template<>
struct std::hash<NTFSDisk> {
    size_t operator()(const NTFSDisk &disk) const noexcept { return qHash(disk); }
};
