// The toolkit layer on a machine without an icon theme: every symbol draws, colours stay
// readable on light and dark palettes, and the text styles render Japanese with real glyphs.
#include "ui/toolkit/Style.h"
#include "ui/toolkit/Symbols.h"

#include <QApplication>
#include <QFontDatabase>
#include <QGlyphRun>
#include <QPalette>
#include <QRawFont>
#include <QTextLayout>

#include <gtest/gtest.h>

namespace {

// Share of the image's pixels that are not transparent, and the colour of the most opaque one.
std::pair<double, QColor> inspect(const QImage &image)
{
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    int opaque = 0;
    QRgb strongest = 0;
    for (int y = 0; y < argb.height(); ++y)
        for (int x = 0; x < argb.width(); ++x) {
            const QRgb pixel = argb.pixel(x, y);
            opaque += qAlpha(pixel) > 0;
            if (qAlpha(pixel) > qAlpha(strongest))
                strongest = pixel;
        }
    return {double(opaque) / (argb.width() * argb.height()), QColor::fromRgba(strongest)};
}
QColor strongestPixel(const QPixmap &pixmap) { return inspect(pixmap.toImage()).second; }

double contrast(const QColor &a, const QColor &b)
{
    auto luminance = [](const QColor &c) {
        auto channel = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
        return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
    };
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// Applies a palette for the scope's duration.
struct PaletteScope {
    QPalette saved = QApplication::palette();
    explicit PaletteScope(const QPalette &palette) { QApplication::setPalette(palette); }
    ~PaletteScope() { QApplication::setPalette(saved); }
};

QPalette palette(QRgb window, QRgb text, QRgb base, QRgb disabledText)
{
    QPalette p;
    p.setColor(QPalette::Window, QColor(window));
    p.setColor(QPalette::WindowText, QColor(text));
    p.setColor(QPalette::Text, QColor(text));
    p.setColor(QPalette::Base, QColor(base));
    p.setColor(QPalette::Disabled, QPalette::WindowText, QColor(disabledText));
    return p;
}
const QPalette kLight = palette(0xefefef, 0x000000, 0xffffff, 0xa0a0a0);
const QPalette kDark = palette(0x2a2a2a, 0xf0f0f0, 0x1e1e1e, 0x808080);

} // namespace

TEST(Toolkit, EverySymbolDrawsAtEverySizeAndUnknownNamesGiveNothing)
{
    const QStringList names = Toolkit::symbolNames();
    ASSERT_GE(names.size(), 12);
    for (const QString &name : names) {
        SCOPED_TRACE(name.toStdString());
        const QIcon icon = Toolkit::symbol(name);
        ASSERT_FALSE(icon.isNull());
        for (int size : {12, 24, 64}) {
            const QPixmap pixmap = icon.pixmap(size);
            ASSERT_EQ(pixmap.width(), size);
            const double covered = inspect(pixmap.toImage()).first;
            EXPECT_GT(covered, 0.08) << size;
            EXPECT_LT(covered, 0.95) << size; // a shape, not a filled square
        }
        EXPECT_TRUE(QRectF(0, 0, 24, 24).contains(Toolkit::symbolPath(name).boundingRect())); // inside its box
        // It looks like itself, not like another symbol.
        for (const QString &other : names.mid(names.indexOf(name) + 1))
            EXPECT_NE(Toolkit::symbolPixmap(name, 24).toImage(), Toolkit::symbolPixmap(other, 24).toImage())
                << other.toStdString();
    }
    EXPECT_TRUE(Toolkit::symbol("no.such.symbol").isNull());
    EXPECT_TRUE(Toolkit::symbolPixmap("no.such.symbol", 16).isNull());
}

TEST(Toolkit, SymbolsTakeTheirTintOrThePalettesTextColourPerMode)
{
    const PaletteScope light(kLight);
    EXPECT_EQ(strongestPixel(Toolkit::symbolPixmap("checkmark.circle.fill", 32, QColor(0, 200, 0))).rgb(),
              QColor(0, 200, 0).rgb());
    const QIcon eject = Toolkit::symbol("eject.fill");
    EXPECT_EQ(strongestPixel(eject.pixmap(32)).rgb(), QColor(Qt::black).rgb());
    EXPECT_EQ(strongestPixel(eject.pixmap(32, QIcon::Disabled)).rgb(), QColor(0xa0, 0xa0, 0xa0).rgb());

    const PaletteScope dark(kDark);
    EXPECT_EQ(strongestPixel(eject.pixmap(32)).rgb(), QColor(0xf0, 0xf0, 0xf0).rgb());
    // A tinted icon greys out by fading.
    EXPECT_LT(strongestPixel(Toolkit::symbol("eject.fill", Qt::red).pixmap(32, QIcon::Disabled)).alpha(), 128);
}

TEST(Toolkit, NamedColoursAreReadableOnLightAndDarkWindows)
{
    using Toolkit::NamedColor;
    QList<QColor> blues;
    for (bool dark : {false, true}) {
        const QPalette &palette = dark ? kDark : kLight;
        const PaletteScope scope(palette);
        EXPECT_EQ(Toolkit::isDarkPalette(), dark);
        for (NamedColor name : {NamedColor::Blue, NamedColor::Green, NamedColor::Red, NamedColor::Orange,
                                NamedColor::Gray, NamedColor::Secondary})
            for (QPalette::ColorRole role : {QPalette::Window, QPalette::Base})
                EXPECT_GE(contrast(Toolkit::color(name), palette.color(role)), 4.5) << int(name) << " on " << role;
        blues << Toolkit::color(NamedColor::Blue);
    }
    // The accents change shade with the palette; opacity scales the alpha.
    EXPECT_GT(blues[1].lightnessF(), blues[0].lightnessF());
    EXPECT_NEAR(Toolkit::color(NamedColor::Orange, 0.1).alphaF(), 0.1, 0.005);
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
        bool japaneseFamilyUsed = false; // the Japanese forms of the kanji, not a Chinese fallback
        for (const QGlyphRun &run : layout.glyphRuns()) {
            for (quint32 index : run.glyphIndexes())
                glyphs += index != 0;
            japaneseFamilyUsed |= run.rawFont().familyName() == "Noto Sans CJK JP";
        }
        EXPECT_GE(glyphs, text.size() - 2);
        EXPECT_TRUE(japaneseFamilyUsed);
    }
}
