// The text styles render Japanese with real glyphs of the Japanese font, not boxes or a Chinese
// fallback.
#include "ui/toolkit/Style.h"

#include <QFontDatabase>
#include <QGlyphRun>
#include <QRawFont>
#include <QTextLayout>

#include <gtest/gtest.h>

TEST(Toolkit, JapaneseTextRendersWithJapaneseGlyphs)
{
    if (!QFontDatabase::hasFamily("Noto Sans CJK JP"))
        GTEST_SKIP() << "fonts-noto-cjk is not installed (scripts/setup installs it)";
    const QString text = QStringLiteral("検出されたNTFSドライブなし「Data」を書き込み可能にしたよ、お兄ちゃん！");
    for (const QFont &font : {Toolkit::font(Toolkit::TextStyle::Body), Toolkit::font(Toolkit::TextStyle::Caption),
                              Toolkit::systemFont(20, Toolkit::Weight::Bold)}) {
        QTextLayout layout(text, font);
        layout.beginLayout();
        layout.createLine();
        layout.endLayout();
        int glyphs = 0;
        bool japaneseFamilyUsed = false;
        for (const QGlyphRun &run : layout.glyphRuns()) {
            for (quint32 index : run.glyphIndexes())
                glyphs += index != 0;
            japaneseFamilyUsed |= run.rawFont().familyName() == "Noto Sans CJK JP";
        }
        EXPECT_GE(glyphs, text.size() - 2);
        EXPECT_TRUE(japaneseFamilyUsed);
    }
}
