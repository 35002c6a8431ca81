#include "disks/NTFSDisk.h"

#include "support/TestSupport.h"

#include <QLocale>
#include <QSet>

#include <gtest/gtest.h>

TEST(NTFSDisk, IdentityIsTheDeviceNodeWhileEqualityCoversEveryFieldAndCanonicalNames)
{
    const NTFSDisk a{"disk4s1", "Data", 1000204886016, QString("/Volumes/Data"), false, "ntfs"};
    NTFSDisk unmounted = a, emptyMount = a, writable = a;
    unmounted.mountPoint.reset();
    emptyMount.mountPoint = QString(); // present-but-empty is not absent
    writable.isWritable = true;
    EXPECT_EQ(a.id(), unmounted.id());
    EXPECT_EQ((QSet<NTFSDisk>{a, NTFSDisk(a), unmounted, emptyMount, writable}).size(), 4);

    NTFSDisk composed = a, decomposed = a;
    composed.volumeName = QString::fromUtf8("Caf\xC3\xA9");   // é as one code point
    decomposed.volumeName = QString::fromUtf8("Cafe\xCC\x81"); // e + combining acute
    EXPECT_EQ(composed, decomposed);
    EXPECT_EQ((QSet<NTFSDisk>{composed, decomposed}).size(), 1);
}

TEST(NTFSDisk, FormattedSizeUsesDecimalGigabytesOrTerabytesOnly)
{
    QLocale::setDefault(QLocale::c());
    const std::pair<qint64, const char *> rows[] = {
        {500'000'000, "0.5 GB"}, {8'388'608, "0.01 GB"}, {0, "0 GB"}, {32'017'047'552, "32.02 GB"},
        {999'000'000'000, "999 GB"}, {999'999'000'000, "1 TB"}, // never "1000 GB"
        {1'500'000'000'000, "1.5 TB"}, {12'000'000'000'000, "12 TB"}};
    auto fmt = [](qint64 bytes) { return NTFSDisk{"d", "n", bytes, {}, false, "ntfs"}.formattedSize(); };
    for (const auto &[bytes, text] : rows)
        EXPECT_EQ(fmt(bytes), text) << bytes;
    QLocale::setDefault(QLocale(QLocale::German));
    EXPECT_EQ(fmt(1'500'000'000'000), "1,5 TB");
    QLocale::setDefault(QLocale::c());
}
