#include "disks/NTFSDisk.h"

#include "support/TestSupport.h"

#include <QLocale>
#include <QSet>

#include <gtest/gtest.h>

namespace {
NTFSDisk sample()
{
    return {"disk4s1", "Data", 1000204886016, QString("/Volumes/Data"), false, "ntfs"};
}
} // namespace

TEST(NTFSDisk, IdentityIsTheDeviceNodeWhileEqualityCoversEveryField)
{
    const NTFSDisk a = sample();
    NTFSDisk unmounted = a;
    unmounted.mountPoint.reset();
    EXPECT_EQ(a.id(), unmounted.id());
    EXPECT_NE(a, unmounted);

    NTFSDisk emptyMount = a;
    emptyMount.mountPoint = QString();
    EXPECT_NE(emptyMount, unmounted); // present-but-empty is not absent

    NTFSDisk writable = a;
    writable.isWritable = true;
    EXPECT_NE(a, writable);

    NTFSDisk copy = a;
    EXPECT_EQ(a, copy);
    EXPECT_EQ(qHash(a), qHash(copy));
    EXPECT_EQ(std::hash<NTFSDisk>()(a), qHash(a));
    EXPECT_EQ((QSet<NTFSDisk>{a, copy, unmounted, emptyMount, writable}).size(), 4);
}

TEST(NTFSDisk, CanonicallyEquivalentNamesAreEqualAndHashAlike)
{
    NTFSDisk composed = sample();
    composed.volumeName = QString::fromUtf8("Caf\xC3\xA9");   // é as one code point
    NTFSDisk decomposed = sample();
    decomposed.volumeName = QString::fromUtf8("Cafe\xCC\x81"); // e + combining acute
    EXPECT_EQ(composed, decomposed);
    EXPECT_EQ(qHash(composed), qHash(decomposed));
}

TEST(NTFSDisk, FormattedSizeUsesDecimalGigabytesOrTerabytesOnly)
{
    QLocale::setDefault(QLocale::c());
    auto fmt = [](qint64 bytes) { return NTFSDisk{"d", "n", bytes, {}, false, "ntfs"}.formattedSize(); };
    EXPECT_EQ(fmt(500'000'000), "0.5 GB");
    EXPECT_EQ(fmt(8'388'608), "0.01 GB");
    EXPECT_EQ(fmt(0), "0 GB");
    EXPECT_EQ(fmt(32'017'047'552), "32.02 GB");
    EXPECT_EQ(fmt(999'000'000'000), "999 GB");
    EXPECT_EQ(fmt(999'999'000'000), "1 TB"); // never "1000 GB"
    EXPECT_EQ(fmt(1'000'204'886'016), "1 TB");
    EXPECT_EQ(fmt(1'500'000'000'000), "1.5 TB");
    EXPECT_EQ(fmt(12'000'000'000'000), "12 TB");

    QLocale::setDefault(QLocale(QLocale::German));
    EXPECT_EQ(fmt(1'500'000'000'000), "1,5 TB");
    QLocale::setDefault(QLocale::c());
}
