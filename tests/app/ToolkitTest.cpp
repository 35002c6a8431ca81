// The toolkit layer on a machine without an icon theme: every symbol draws, colours stay
// readable on light and dark palettes, and the text styles render Japanese with real glyphs.
#include "app/Toolkit.h"

#include <QApplication>
#include <QFontDatabase>
#include <QGlyphRun>
#include <QPainter>
#include <QPalette>
#include <QRawFont>
#include <QTextLayout>

#include <gtest/gtest.h>

namespace {

const QStringList kSymbols = {
    "opticaldiscdrive", "opticaldiscdrive.fill", "arrow.clockwise", "externaldrive.fill",
    "pencil.and.outline", "eject.fill", "exclamationmark.triangle.fill", "square.and.arrow.down.on.square",
    "checkmark.circle.fill", "xmark.circle.fill", "exclamationmark.octagon.fill", "shield.checkered",
};

// Share of the image's pixels that are not transparent.
double coverage(const QImage &image)
{
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    int opaque = 0;
    for (int y = 0; y < argb.height(); ++y)
        for (int x = 0; x < argb.width(); ++x)
            opaque += qAlpha(argb.pixel(x, y)) > 0;
    return double(opaque) / (argb.width() * argb.height());
}

// The colour of the most opaque pixel.
QColor strongestPixel(const QImage &image)
{
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    QRgb best = 0;
    for (int y = 0; y < argb.height(); ++y)
        for (int x = 0; x < argb.width(); ++x)
            if (qAlpha(argb.pixel(x, y)) > qAlpha(best))
                best = argb.pixel(x, y);
    return QColor::fromRgba(best);
}

double luminance(const QColor &c)
{
    auto channel = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
    return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
}

double contrast(const QColor &a, const QColor &b)
{
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// Applies a palette for the test's duration.
struct PaletteScope {
    QPalette saved = QApplication::palette();
    explicit PaletteScope(const QPalette &palette) { QApplication::setPalette(palette); }
    ~PaletteScope() { QApplication::setPalette(saved); }
};

QPalette darkPalette()
{
    QPalette dark;
    dark.setColor(QPalette::Window, QColor(0x2a, 0x2a, 0x2a));
    dark.setColor(QPalette::WindowText, QColor(0xf0, 0xf0, 0xf0));
    dark.setColor(QPalette::Base, QColor(0x1e, 0x1e, 0x1e));
    dark.setColor(QPalette::Text, QColor(0xf0, 0xf0, 0xf0));
    dark.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0x80, 0x80, 0x80));
    return dark;
}

QPalette lightPalette()
{
    QPalette light;
    light.setColor(QPalette::Window, QColor(0xef, 0xef, 0xef));
    light.setColor(QPalette::WindowText, Qt::black);
    light.setColor(QPalette::Base, Qt::white);
    light.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0xa0, 0xa0, 0xa0));
    return light;
}

} // namespace

TEST(Toolkit, EverySymbolDrawsAtEverySizeAndUnknownNamesGiveNothing)
{
    ASSERT_EQ(Toolkit::symbolNames(), kSymbols);
    for (const QString &name : kSymbols) {
        SCOPED_TRACE(name.toStdString());
        const QIcon icon = Toolkit::symbol(name);
        ASSERT_FALSE(icon.isNull());
        for (int size : {12, 16, 24, 64}) {
            const QPixmap pixmap = icon.pixmap(size);
            ASSERT_EQ(pixmap.width(), size);
            const double covered = coverage(pixmap.toImage());
            EXPECT_GT(covered, 0.08) << size;
            EXPECT_LT(covered, 0.95) << size; // a shape, not a filled square
        }
        // The drawn form stays inside its box.
        const QRectF bounds = Toolkit::symbolPath(name).boundingRect();
        EXPECT_TRUE(QRectF(0, 0, 24, 24).contains(bounds)) << bounds.x() << "," << bounds.y() << " "
                                                          << bounds.width() << "x" << bounds.height();
    }
    // Each symbol looks like itself, not like another one.
    for (int i = 0; i < kSymbols.size(); ++i)
        for (int j = i + 1; j < kSymbols.size(); ++j)
            EXPECT_NE(Toolkit::symbolPixmap(kSymbols[i], 24).toImage(), Toolkit::symbolPixmap(kSymbols[j], 24).toImage())
                << kSymbols[i].toStdString() << " vs " << kSymbols[j].toStdString();

    EXPECT_TRUE(Toolkit::symbol("no.such.symbol").isNull());
    EXPECT_TRUE(Toolkit::symbolPixmap("no.such.symbol", 16).isNull());
}

TEST(Toolkit, SymbolsTakeTheirTintOrThePalettesTextColourPerMode)
{
    const PaletteScope scope(lightPalette());
    EXPECT_EQ(strongestPixel(Toolkit::symbolPixmap("checkmark.circle.fill", 32, QColor(0, 200, 0)).toImage()).rgb(),
              QColor(0, 200, 0).rgb());
    const QIcon eject = Toolkit::symbol("eject.fill");
    EXPECT_EQ(strongestPixel(eject.pixmap(32).toImage()).rgb(), QColor(Qt::black).rgb());
    EXPECT_EQ(strongestPixel(eject.pixmap(32, QIcon::Disabled).toImage()).rgb(), QColor(0xa0, 0xa0, 0xa0).rgb());

    const PaletteScope dark(darkPalette());
    EXPECT_EQ(strongestPixel(eject.pixmap(32).toImage()).rgb(), QColor(0xf0, 0xf0, 0xf0).rgb());
    // A tinted icon greys out by fading.
    const QIcon tinted = Toolkit::symbol("eject.fill", QColor(255, 0, 0));
    EXPECT_LT(strongestPixel(tinted.pixmap(32, QIcon::Disabled).toImage()).alpha(), 128);
}

TEST(Toolkit, NamedColoursAreReadableOnLightAndDarkWindows)
{
    using Toolkit::NamedColor;
    for (const QPalette &palette : {lightPalette(), darkPalette()}) {
        const PaletteScope scope(palette);
        const QColor window = Toolkit::color(NamedColor::WindowBackground);
        EXPECT_EQ(window, palette.color(QPalette::Window));
        EXPECT_EQ(Toolkit::color(NamedColor::ControlBackground), palette.color(QPalette::Base));
        for (NamedColor name : {NamedColor::Blue, NamedColor::Green, NamedColor::Red, NamedColor::Orange,
                                NamedColor::Gray, NamedColor::Secondary}) {
            const QColor c = Toolkit::color(name);
            EXPECT_GE(contrast(c, window), 4.5) << int(name) << " on " << window.name().toStdString();
            EXPECT_GE(contrast(c, palette.color(QPalette::Base)), 4.5) << int(name);
        }
    }
    // The accents change shade with the palette; white and black do not.
    QColor lightBlue, darkBlue;
    {
        const PaletteScope scope(lightPalette());
        lightBlue = Toolkit::color(NamedColor::Blue);
        EXPECT_FALSE(Toolkit::isDarkPalette());
        EXPECT_EQ(Toolkit::color(NamedColor::White), QColor(Qt::white));
    }
    {
        const PaletteScope scope(darkPalette());
        darkBlue = Toolkit::color(NamedColor::Blue);
        EXPECT_TRUE(Toolkit::isDarkPalette());
        EXPECT_EQ(Toolkit::color(NamedColor::White), QColor(Qt::white));
    }
    EXPECT_GT(darkBlue.lightnessF(), lightBlue.lightnessF());

    // Opacity scales the alpha.
    EXPECT_NEAR(Toolkit::color(NamedColor::Orange, 0.1).alphaF(), 0.1, 0.005);
    EXPECT_NEAR(Toolkit::color(NamedColor::Black, 0.3).alphaF(), 0.3, 0.005);
}

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
            for (quint32 index : run.glyphIndexes()) {
                EXPECT_NE(index, 0u) << "missing glyph in " << run.rawFont().familyName().toStdString();
                ++glyphs;
            }
            japaneseFamilyUsed |= run.rawFont().familyName() == "Noto Sans CJK JP";
        }
        EXPECT_GE(glyphs, text.size() - 2);
        // The Japanese forms of the kanji, not a Chinese variant picked by the fallback.
        EXPECT_TRUE(japaneseFamilyUsed);
    }
}
