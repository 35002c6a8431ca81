#include "ui/toolkit/Style.h"

#include <QEvent>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QPalette>
#include <QStringList>

#include <algorithm>

namespace Toolkit {
namespace {

QFont::Weight qtWeight(Weight weight)
{
    switch (weight) {
    case Weight::Semibold: return QFont::DemiBold;
    case Weight::Bold: return QFont::Bold;
    case Weight::Regular: break;
    }
    return QFont::Normal;
}

// A layout point is a device-independent pixel at 96 dpi; a font point is 1/72 inch.
constexpr qreal kFontPointsPerLayoutPoint = 72.0 / 96.0;

// Families that hold Japanese glyphs in their Japanese forms, best first.
const QStringList kJapaneseFamilies = {
    QStringLiteral("Noto Sans CJK JP"), QStringLiteral("Noto Sans JP"),   QStringLiteral("Source Han Sans JP"),
    QStringLiteral("IPAexGothic"),      QStringLiteral("IPAGothic"),      QStringLiteral("TakaoGothic"),
    QStringLiteral("VL Gothic"),        QStringLiteral("Hiragino Sans"),
};

QString japaneseFamily()
{
    static const QString family = [] {
        for (const QString &candidate : kJapaneseFamilies)
            if (QFontDatabase::hasFamily(candidate))
                return candidate;
        return QString();
    }();
    return family;
}

QColor blend(const QColor &over, const QColor &under)
{
    const qreal a = over.alphaF();
    return QColor::fromRgbF(float(over.redF() * a + under.redF() * (1 - a)),
                            float(over.greenF() * a + under.greenF() * (1 - a)),
                            float(over.blueF() * a + under.blueF() * (1 - a)));
}

} // namespace

QFont withJapaneseFallback(QFont font)
{
    const QString japanese = japaneseFamily();
    QStringList families = font.families();
    if (families.isEmpty())
        families << font.family();
    if (!japanese.isEmpty() && !families.contains(japanese))
        families << japanese;
    font.setFamilies(families);
    return font;
}

QFont font(TextStyle style)
{
    return font(style, style == TextStyle::Headline ? Weight::Semibold : Weight::Regular);
}

QFont font(TextStyle style, Weight weight)
{
    qreal size = 13;
    switch (style) {
    case TextStyle::Title2: size = 17; break;
    case TextStyle::Headline: size = 13; break;
    case TextStyle::Subheadline: size = 11; break;
    case TextStyle::Body: size = 13; break;
    case TextStyle::Caption: size = 10; break;
    }
    return systemFont(size, weight);
}

QFont systemFont(qreal pointSize, Weight weight)
{
    QFont f = withJapaneseFallback(QGuiApplication::font());
    f.setPointSizeF(pointSize * kFontPointsPerLayoutPoint);
    f.setWeight(qtWeight(weight));
    return f;
}

bool isDarkPalette()
{
    const QPalette palette = QGuiApplication::palette();
    return palette.color(QPalette::Window).lightnessF() < 0.5;
}

QColor color(NamedColor name, qreal opacity)
{
    const QPalette palette = QGuiApplication::palette();
    const bool dark = isDarkPalette();
    // Light shades hold 4.5:1 against a light grey window, dark shades against a dark grey one.
    auto shade = [dark](QRgb light, QRgb darkShade) { return QColor::fromRgb(dark ? darkShade : light); };
    QColor c;
    switch (name) {
    case NamedColor::Blue: c = shade(0x0062D1, 0x4DA3FF); break;
    case NamedColor::Green: c = shade(0x1B7A33, 0x34D058); break;
    case NamedColor::Red: c = shade(0xD1281C, 0xFF6B61); break;
    case NamedColor::Orange: c = shade(0xB04A00, 0xFFA23A); break;
    case NamedColor::Gray: c = shade(0x6A6A70, 0xA3A3A8); break;
    case NamedColor::White: c = Qt::white; break;
    case NamedColor::Black: c = Qt::black; break;
    case NamedColor::Secondary: {
        QColor text = palette.color(QPalette::WindowText);
        text.setAlphaF(0.62f);
        c = blend(text, palette.color(QPalette::Window));
        break;
    }
    case NamedColor::WindowBackground: c = palette.color(QPalette::Window); break;
    case NamedColor::ControlBackground: c = palette.color(QPalette::Base); break;
    }
    c.setAlphaF(float(c.alphaF() * opacity));
    return c;
}

QColor withAlphaFactor(QColor color, qreal factor)
{
    color.setAlphaF(std::clamp(color.alphaF() * factor, 0.0, 1.0));
    return color;
}

bool isPaletteChange(const QEvent *event)
{
    return event->type() == QEvent::PaletteChange || event->type() == QEvent::ApplicationPaletteChange;
}

void applyApplicationLook()
{
    QGuiApplication::setFont(withJapaneseFallback(QGuiApplication::font()));
}

} // namespace Toolkit
