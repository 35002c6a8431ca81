#include "app/Toolkit.h"

#include <QFontDatabase>
#include <QGuiApplication>
#include <QHash>
#include <QIconEngine>
#include <QPainter>
#include <QPainterPathStroker>
#include <QPalette>
#include <QtMath>

#include <functional>

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

// ---- Drawn symbols, in a 24 × 24 box ----

QPainterPath stroked(const QPainterPath &line, qreal width)
{
    QPainterPathStroker stroker;
    stroker.setWidth(width);
    stroker.setCapStyle(Qt::RoundCap);
    stroker.setJoinStyle(Qt::RoundJoin);
    return stroker.createStroke(line).simplified();
}

QPainterPath segment(QPointF from, QPointF to, qreal width)
{
    QPainterPath line(from);
    line.lineTo(to);
    return stroked(line, width);
}

QPainterPath polyline(std::initializer_list<QPointF> points, qreal width)
{
    QPainterPath line;
    for (const QPointF &point : points) {
        if (line.elementCount() == 0)
            line.moveTo(point);
        else
            line.lineTo(point);
    }
    return stroked(line, width);
}

QPainterPath roundedRect(const QRectF &rect, qreal radius)
{
    QPainterPath path;
    path.addRoundedRect(rect, radius, radius);
    return path;
}

QPainterPath circle(QPointF centre, qreal radius)
{
    QPainterPath path;
    path.addEllipse(centre, radius, radius);
    return path;
}

// A closed polygon with softened corners.
QPainterPath softPolygon(const QPolygonF &polygon, qreal rounding)
{
    QPainterPath outline;
    outline.addPolygon(polygon);
    outline.closeSubpath();
    return outline.united(stroked(outline, rounding));
}

// The exclamation mark of the warning symbols, standing on `top` to `bottom`.
QPainterPath exclamationMark(qreal top, qreal bottom)
{
    QPainterPath mark = roundedRect(QRectF(10.9, top, 2.2, bottom - top - 3.2), 1.1);
    return mark.united(circle(QPointF(12, bottom - 1.1), 1.3));
}

QPainterPath driveBody() { return roundedRect(QRectF(2, 6.5, 20, 11), 2.6); }

QPainterPath opticalDrive(bool filled)
{
    const QPainterPath slot = segment(QPointF(6, 10.5), QPointF(18, 10.5), 1.5);
    const QPainterPath button = circle(QPointF(17.5, 14.2), 1.1);
    if (filled)
        return driveBody().subtracted(slot).subtracted(button);
    QPainterPath body = stroked(driveBody(), 1.7);
    return body.united(slot).united(button);
}

QPainterPath externalDrive()
{
    const QPainterPath light = circle(QPointF(17.3, 12), 1.3);
    const QPainterPath groove = segment(QPointF(5.5, 12), QPointF(12.5, 12), 1.4);
    return roundedRect(QRectF(2, 7, 20, 10), 3).subtracted(light).subtracted(groove);
}

QPainterPath arrowClockwise()
{
    const QPointF centre(12, 13);
    const qreal radius = 7.5;
    const qreal startDegrees = 100;
    const QRectF box(centre.x() - radius, centre.y() - radius, 2 * radius, 2 * radius);
    QPainterPath arc;
    arc.arcMoveTo(box, startDegrees);
    arc.arcTo(box, startDegrees, 280);
    const QPointF top = arc.pointAtPercent(0);
    QPolygonF head;
    head << QPointF(top.x() + 4.2, top.y()) << QPointF(top.x() - 0.6, top.y() - 3.6)
         << QPointF(top.x() - 0.6, top.y() + 3.6);
    return stroked(arc, 2.0).united(softPolygon(head, 0.8));
}

QPainterPath pencilAndOutline()
{
    // The pencil along its own axis (tip at the origin), then laid diagonally.
    QPainterPath pencil;
    QPolygonF tip;
    tip << QPointF(0, 0) << QPointF(4.2, -2.3) << QPointF(4.2, 2.3);
    pencil.addPolygon(tip);
    pencil.closeSubpath();
    pencil.addRect(QRectF(4.9, -2.3, 9.6, 4.6));
    pencil.addRoundedRect(QRectF(15.3, -2.3, 2.8, 4.6), 0.9, 0.9);
    QTransform laid;
    laid.translate(3.2, 17.8);
    laid.rotate(-45);
    QPainterPath drawn = laid.map(pencil);
    drawn.setFillRule(Qt::WindingFill);
    // The outline under the pencil's tip.
    return drawn.united(segment(QPointF(9.5, 21.2), QPointF(21, 21.2), 1.6));
}

QPainterPath ejectFill()
{
    QPolygonF roof;
    roof << QPointF(12, 3.8) << QPointF(20.5, 13.2) << QPointF(3.5, 13.2);
    return softPolygon(roof, 1.4).united(roundedRect(QRectF(3.5, 16, 17, 3.4), 1.2));
}

QPainterPath triangleWarning()
{
    QPolygonF triangle;
    triangle << QPointF(12, 2.8) << QPointF(21.8, 20.2) << QPointF(2.2, 20.2);
    return softPolygon(triangle, 2.2).subtracted(exclamationMark(8, 18.6));
}

QPainterPath squareArrowDownOnSquare()
{
    const QPainterPath front = roundedRect(QRectF(2.8, 8.2, 13, 13), 2.4);
    const QPainterPath back = roundedRect(QRectF(8.2, 2.8, 13, 13), 2.4);
    // The back square shows only outside the front one.
    QPainterPath drawn = stroked(back, 1.6).subtracted(front.united(stroked(front, 3.2)));
    // The front square, open where the arrow enters it.
    QPainterPath frontOutline = stroked(front, 1.6).subtracted(QPainterPath([] {
        QPainterPath gap;
        gap.addRect(QRectF(6.7, 5.5, 5.2, 4.4));
        return gap;
    }()));
    drawn = drawn.united(frontOutline);
    drawn = drawn.united(segment(QPointF(9.3, 3.6), QPointF(9.3, 15.2), 1.7));
    return drawn.united(polyline({QPointF(5.9, 12.1), QPointF(9.3, 15.6), QPointF(12.7, 12.1)}, 1.7));
}

QPainterPath checkmarkCircle()
{
    return circle(QPointF(12, 12), 10.2)
        .subtracted(polyline({QPointF(7.2, 12.4), QPointF(10.5, 15.7), QPointF(16.9, 8.6)}, 2.3));
}

QPainterPath xmarkCircle()
{
    return circle(QPointF(12, 12), 10.2)
        .subtracted(segment(QPointF(8.4, 8.4), QPointF(15.6, 15.6), 2.3))
        .subtracted(segment(QPointF(15.6, 8.4), QPointF(8.4, 15.6), 2.3));
}

QPainterPath octagonWarning()
{
    QPolygonF octagon;
    for (int corner = 0; corner < 8; ++corner) {
        const qreal angle = qDegreesToRadians(22.5 + 45.0 * corner);
        octagon << QPointF(12 + 10.2 * qCos(angle), 12 + 10.2 * qSin(angle));
    }
    return softPolygon(octagon, 1.4).subtracted(exclamationMark(6.2, 17.8));
}

QPainterPath shieldCheckered()
{
    auto shieldShape = [](qreal inset) {
        QPainterPath shield;
        shield.moveTo(12, 2.2 + inset);
        shield.cubicTo(14.8, 3.7 + inset, 17.4, 4.4 + inset, 20.2 - inset, 4.6 + inset);
        shield.cubicTo(20.4 - inset, 13 - inset * 0.3, 17.4 - inset, 18.6 - inset, 12, 21.8 - inset);
        shield.cubicTo(6.6 + inset, 18.6 - inset, 3.6 + inset, 13 - inset * 0.3, 3.8 + inset, 4.6 + inset);
        shield.cubicTo(6.6, 4.4 + inset, 9.2, 3.7 + inset, 12, 2.2 + inset);
        shield.closeSubpath();
        return shield;
    };
    QPainterPath checks;
    checks.addRect(QRectF(0, 0, 12, 12.3));
    checks.addRect(QRectF(12, 12.3, 12, 12));
    checks.setFillRule(Qt::WindingFill);
    return stroked(shieldShape(0), 1.6).united(shieldShape(2.6).intersected(checks));
}

using PathMaker = std::function<QPainterPath()>;

const QList<std::pair<QString, PathMaker>> &drawnSymbols()
{
    static const QList<std::pair<QString, PathMaker>> symbols = {
        {"opticaldiscdrive", [] { return opticalDrive(false); }},
        {"opticaldiscdrive.fill", [] { return opticalDrive(true); }},
        {"arrow.clockwise", arrowClockwise},
        {"externaldrive.fill", externalDrive},
        {"pencil.and.outline", pencilAndOutline},
        {"eject.fill", ejectFill},
        {"exclamationmark.triangle.fill", triangleWarning},
        {"square.and.arrow.down.on.square", squareArrowDownOnSquare},
        {"checkmark.circle.fill", checkmarkCircle},
        {"xmark.circle.fill", xmarkCircle},
        {"exclamationmark.octagon.fill", octagonWarning},
        {"shield.checkered", shieldCheckered},
    };
    return symbols;
}

// Paints a drawn symbol at any size, in a fixed tint or in the palette's colour for the mode.
class DrawnSymbolEngine : public QIconEngine {
public:
    DrawnSymbolEngine(QString name, QColor tint)
        : m_name(std::move(name))
        , m_tint(std::move(tint))
    {
    }

    void paint(QPainter *painter, const QRect &rect, QIcon::Mode mode, QIcon::State) override
    {
        paintSymbol(*painter, m_name, rect, colorFor(mode));
    }

    QPixmap pixmap(const QSize &size, QIcon::Mode mode, QIcon::State state) override
    {
        return scaledPixmap(size, mode, state, 1.0);
    }

    QPixmap scaledPixmap(const QSize &size, QIcon::Mode mode, QIcon::State, qreal scale) override
    {
        QPixmap pixmap(size * scale);
        pixmap.setDevicePixelRatio(scale);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        paintSymbol(painter, m_name, QRectF(QPointF(0, 0), QSizeF(size)), colorFor(mode));
        return pixmap;
    }

    QString key() const override { return QStringLiteral("quorvel-drawn-symbol"); }
    QIconEngine *clone() const override { return new DrawnSymbolEngine(m_name, m_tint); }
    QString iconName() override { return m_name; }
    bool isNull() override { return false; }

private:
    QColor colorFor(QIcon::Mode mode) const
    {
        const QPalette palette = QGuiApplication::palette();
        if (m_tint.isValid()) {
            QColor c = m_tint;
            if (mode == QIcon::Disabled)
                c.setAlphaF(c.alphaF() * 0.4);
            return c;
        }
        switch (mode) {
        case QIcon::Disabled: return palette.color(QPalette::Disabled, QPalette::WindowText);
        case QIcon::Selected: return palette.color(QPalette::Active, QPalette::HighlightedText);
        case QIcon::Normal:
        case QIcon::Active: break;
        }
        return palette.color(QPalette::Active, QPalette::WindowText);
    }

    QString m_name;
    QColor m_tint;
};

QIcon themeSymbol(const QString &name)
{
    const auto it = themeNames().constFind(name);
    if (it == themeNames().constEnd())
        return QIcon();
    for (const QString &themeName : *it)
        if (QIcon::hasThemeIcon(themeName))
            return QIcon::fromTheme(themeName);
    return QIcon();
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

QStringList symbolNames()
{
    QStringList names;
    for (const auto &[name, maker] : drawnSymbols())
        names << name;
    return names;
}

QPainterPath symbolPath(const QString &name)
{
    static QHash<QString, QPainterPath> cache;
    if (const auto it = cache.constFind(name); it != cache.constEnd())
        return *it;
    for (const auto &[known, maker] : drawnSymbols()) {
        if (known == name) {
            // Keep the fill rule the boolean operations chose: it is what leaves the holes open.
            const QPainterPath path = maker();
            cache.insert(name, path);
            return path;
        }
    }
    return QPainterPath();
}

void paintSymbol(QPainter &painter, const QString &name, const QRectF &rect, const QColor &color)
{
    const QPainterPath path = symbolPath(name);
    if (path.isEmpty() || rect.isEmpty())
        return;
    const qreal side = qMin(rect.width(), rect.height());
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(rect.center().x() - side / 2, rect.center().y() - side / 2);
    painter.scale(side / 24.0, side / 24.0);
    painter.setPen(Qt::NoPen);
    painter.setBrush(color);
    painter.drawPath(path);
    painter.restore();
}

QIcon symbol(const QString &name)
{
    if (symbolPath(name).isEmpty())
        return QIcon();
    const QIcon themed = themeSymbol(name);
    if (!themed.isNull())
        return themed;
    return QIcon(new DrawnSymbolEngine(name, QColor()));
}

QIcon symbol(const QString &name, const QColor &tint)
{
    if (symbolPath(name).isEmpty())
        return QIcon();
    return QIcon(new DrawnSymbolEngine(name, tint));
}

QPixmap symbolPixmap(const QString &name, int size, const QColor &tint)
{
    if (tint.isValid())
        return symbol(name, tint).pixmap(size, size);
    return symbol(name).pixmap(size, size);
}

void applyApplicationLook()
{
    QGuiApplication::setFont(withJapaneseFallback(QGuiApplication::font()));
}

} // namespace Toolkit
