#include "app/Toolkit.h"

#include <QApplication>
#include <QHash>
#include <QPainter>
#include <QPalette>

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

// Theme names for each symbol, most specific first.
const QHash<QString, QStringList> &themeNames()
{
    static const QHash<QString, QStringList> names = {
        {"opticaldiscdrive", {"drive-optical", "media-optical"}},
        {"opticaldiscdrive.fill", {"drive-optical", "media-optical"}},
        {"arrow.clockwise", {"view-refresh"}},
        {"externaldrive.fill", {"drive-harddisk-usb", "drive-removable-media", "drive-harddisk"}},
        {"pencil.and.outline", {"document-edit", "edit-entry"}},
        {"eject.fill", {"media-eject"}},
        {"exclamationmark.triangle.fill", {"dialog-warning"}},
        {"square.and.arrow.down.on.square", {"document-save", "download"}},
        {"checkmark.circle.fill", {"emblem-ok", "dialog-ok"}},
        {"xmark.circle.fill", {"dialog-error", "window-close"}},
        {"exclamationmark.octagon.fill", {"dialog-error"}},
        {"shield.checkered", {"security-high", "security-medium"}},
    };
    return names;
}

} // namespace

QFont font(TextStyle style)
{
    return font(style, style == TextStyle::Headline ? Weight::Semibold : Weight::Regular);
}

QFont font(TextStyle style, Weight weight)
{
    const qreal base = QApplication::font().pointSizeF() > 0 ? QApplication::font().pointSizeF() : 10.0;
    qreal size = base;
    switch (style) {
    case TextStyle::Title2: size = base * 1.55; break;
    case TextStyle::Headline: size = base * 1.0; break;
    case TextStyle::Subheadline: size = base * 0.9; break;
    case TextStyle::Body: size = base * 1.0; break;
    case TextStyle::Caption: size = base * 0.8; break;
    }
    return systemFont(size, weight);
}

QFont systemFont(qreal pointSize, Weight weight)
{
    QFont f = QApplication::font();
    f.setPointSizeF(pointSize);
    f.setWeight(qtWeight(weight));
    return f;
}

QColor color(NamedColor name, qreal opacity)
{
    const QPalette palette = QApplication::palette();
    QColor c;
    switch (name) {
    case NamedColor::Blue: c = QColor(0x0A, 0x84, 0xFF); break;
    case NamedColor::Green: c = QColor(0x30, 0xB0, 0x50); break;
    case NamedColor::Red: c = QColor(0xFF, 0x3B, 0x30); break;
    case NamedColor::Orange: c = QColor(0xFF, 0x95, 0x00); break;
    case NamedColor::Gray: c = QColor(0x8E, 0x8E, 0x93); break;
    case NamedColor::White: c = Qt::white; break;
    case NamedColor::Black: c = Qt::black; break;
    case NamedColor::Secondary: c = palette.color(QPalette::WindowText); c.setAlphaF(0.55); break;
    case NamedColor::WindowBackground: c = palette.color(QPalette::Window); break;
    case NamedColor::ControlBackground: c = palette.color(QPalette::Base); break;
    }
    c.setAlphaF(c.alphaF() * opacity);
    return c;
}

QIcon symbol(const QString &name)
{
    const auto it = themeNames().constFind(name);
    if (it == themeNames().constEnd())
        return QIcon();
    for (const QString &themeName : *it)
        if (QIcon::hasThemeIcon(themeName))
            return QIcon::fromTheme(themeName);
    return QIcon();
}

QPixmap symbolPixmap(const QString &name, int size, const QColor &tint)
{
    QPixmap pixmap = symbol(name).pixmap(size, size);
    if (pixmap.isNull() || !tint.isValid())
        return pixmap;
    QPainter painter(&pixmap);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(pixmap.rect(), tint);
    return pixmap;
}

} // namespace Toolkit
