#include "disks/NTFSDisk.h"

#include <QHashFunctions>
#include <QLocale>

namespace {

bool canonicallyEqual(const QString &a, const QString &b)
{
    if (a == b)
        return true;
    return a.normalized(QString::NormalizationForm_C) == b.normalized(QString::NormalizationForm_C);
}

size_t canonicalHash(const QString &text, size_t seed)
{
    return qHash(text.normalized(QString::NormalizationForm_C), seed);
}

} // namespace

bool operator==(const NTFSDisk &a, const NTFSDisk &b)
{
    return canonicallyEqual(a.deviceNode, b.deviceNode)
        && canonicallyEqual(a.volumeName, b.volumeName)
        && a.size == b.size
        && a.mountPoint.has_value() == b.mountPoint.has_value()
        && (!a.mountPoint || canonicallyEqual(*a.mountPoint, *b.mountPoint))
        && a.isWritable == b.isWritable
        && canonicallyEqual(a.filesystem, b.filesystem);
}

size_t qHash(const NTFSDisk &disk, size_t seed) noexcept
{
    QtPrivate::QHashCombine combine;
    seed = combine(seed, canonicalHash(disk.deviceNode, 0));
    seed = combine(seed, canonicalHash(disk.volumeName, 0));
    seed = combine(seed, qHash(disk.size));
    seed = combine(seed, qHash(disk.mountPoint.has_value() ? 1 : 0));
    if (disk.mountPoint)
        seed = combine(seed, canonicalHash(*disk.mountPoint, 0));
    seed = combine(seed, qHash(disk.isWritable));
    seed = combine(seed, canonicalHash(disk.filesystem, 0));
    return seed;
}

QString formatDecimalGigabytes(qint64 bytes)
{
    double value = double(bytes) / 1e9;
    QString unit = QStringLiteral("GB");
    // Anything that would print as 1000 GB is shown in terabytes.
    if (value >= 999.995 || value <= -999.995) {
        value /= 1000.0;
        unit = QStringLiteral("TB");
    }
    // Two fraction digits at most, without trailing zeros: "0.5 GB", "500 GB", "1.23 TB".
    QString number = QLocale().toString(value, 'f', 2);
    const QChar decimal = QLocale().decimalPoint().front();
    if (number.contains(decimal)) {
        while (number.endsWith(QLatin1Char('0')))
            number.chop(1);
        if (number.endsWith(decimal))
            number.chop(1);
    }
    if (number == QStringLiteral("-0"))
        number = QStringLiteral("0");
    return number + QLatin1Char(' ') + unit;
}

bool NTFSDisk::isSafeDeviceIdentifier(const QString &identifier)
{
    if (identifier.isEmpty() || identifier == QLatin1String(".") || identifier == QLatin1String(".."))
        return false;
    for (const QChar c : identifier) {
        const char16_t u = c.unicode();
        const bool ok = (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9')
            || u == '.' || u == '_' || u == '-';
        if (!ok)
            return false;
    }
    return true;
}

QString NTFSDisk::formattedSize() const
{
    return formatDecimalGigabytes(size);
}
