#include "disks/NTFSDisk.h"
#include "support/TestSupport.h"

#include <QLocale>
#include <QSet>

#include <gtest/gtest.h>

// A name stored composed by one source and decomposed by another is the same record, in a set too.
TEST(NTFSDisk, ComposedAndDecomposedNamesAreEqualAndHashAlike)
{
    NTFSDisk composed{"disk4s1", QString::fromUtf8("Caf\xC3\xA9"), 1, std::nullopt, false, "ntfs"}, decomposed = composed;
    decomposed.volumeName = QString::fromUtf8("Cafe\xCC\x81");
    EXPECT_EQ(composed, decomposed);
    EXPECT_EQ((QSet<NTFSDisk>{composed, decomposed}).size(), 1);
}

TEST(NTFSDisk, FormattedSizeUsesDecimalGigabytesOrTerabytesOnly)
{
    const std::pair<qint64, const char *> rows[] = {
        {500'000'000, "0.5 GB"}, {8'388'608, "0.01 GB"}, {0, "0 GB"}, {32'017'047'552, "32.02 GB"},
        {999'000'000'000, "999 GB"}, {999'999'000'000, "1 TB"}, // never "1000 GB"
        {1'500'000'000'000, "1.5 TB"}, {12'000'000'000'000, "12 TB"}};
    const auto formatted = [](qint64 bytes) { return NTFSDisk{"d", "n", bytes, {}, false, "ntfs"}.formattedSize(); };
    QLocale::setDefault(QLocale::c());
    for (const auto &[bytes, text] : rows)
        EXPECT_EQ(formatted(bytes), text) << bytes;
    QLocale::setDefault(QLocale(QLocale::German));
    EXPECT_EQ(formatted(1'500'000'000'000), "1,5 TB");
    QLocale::setDefault(QLocale::c());
}
