#include "ui/toolkit/Symbols.h"

#include <QFontInfo>
#include <QGuiApplication>
#include <QHash>
#include <QIconEngine>
#include <QPainter>
#include <QPainterPath>
#include <QPainterPathStroker>
#include <QPalette>

#include <algorithm>

namespace Toolkit {
namespace {

// ---- The drawings, in a 24 × 24 box ----

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

// ---- The symbols ----

struct SymbolEntry {
    QString name;
    // The icon theme's names for it, most specific first.
    QStringList themeNames;
    QPainterPath (*draw)();
};

const QList<SymbolEntry> &symbolTable()
{
    static const QList<SymbolEntry> table = {
        {"opticaldiscdrive", {"drive-optical", "media-optical"}, [] { return opticalDrive(false); }},
        {"opticaldiscdrive.fill", {"drive-optical", "media-optical"}, [] { return opticalDrive(true); }},
        {"arrow.clockwise", {"view-refresh"}, arrowClockwise},
        {"externaldrive.fill", {"drive-harddisk-usb", "drive-removable-media", "drive-harddisk"}, externalDrive},
        {"pencil.and.outline", {"document-edit", "edit-entry"}, pencilAndOutline},
        {"eject.fill", {"media-eject"}, ejectFill},
        {"exclamationmark.triangle.fill", {"dialog-warning"}, triangleWarning},
        {"square.and.arrow.down.on.square", {"document-save", "download"}, squareArrowDownOnSquare},
        {"checkmark.circle.fill", {"emblem-ok", "dialog-ok"}, checkmarkCircle},
        {"xmark.circle.fill", {"dialog-error", "window-close"}, xmarkCircle},
        {"shield.checkered", {"security-high", "security-medium"}, shieldCheckered},
    };
    return table;
}

const SymbolEntry *findSymbol(const QString &name)
{
    const QList<SymbolEntry> &table = symbolTable();
    const auto it = std::find_if(table.begin(), table.end(), [&](const SymbolEntry &entry) { return entry.name == name; });
    return it == table.end() ? nullptr : &*it;
}

// The drawn form of a symbol: a filled outline in a 24 × 24 box; empty for an unknown name.
QPainterPath symbolPath(const QString &name)
{
    static QHash<QString, QPainterPath> cache;
    if (const auto it = cache.constFind(name); it != cache.constEnd())
        return *it;
    const SymbolEntry *entry = findSymbol(name);
    if (!entry)
        return QPainterPath();
    // Keep the fill rule the boolean operations chose: it is what leaves the holes open.
    const QPainterPath path = entry->draw();
    cache.insert(name, path);
    return path;
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

QIcon themeSymbol(const SymbolEntry &entry)
{
    for (const QString &themeName : entry.themeNames)
        if (QIcon::hasThemeIcon(themeName))
            return QIcon::fromTheme(themeName);
    return QIcon();
}

} // namespace

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
    const SymbolEntry *entry = findSymbol(name);
    if (!entry)
        return QIcon();
    const QIcon themed = themeSymbol(*entry);
    if (!themed.isNull())
        return themed;
    return QIcon(new DrawnSymbolEngine(name, QColor()));
}

QIcon symbol(const QString &name, const QColor &tint)
{
    if (!findSymbol(name))
        return QIcon();
    return QIcon(new DrawnSymbolEngine(name, tint));
}

QPixmap symbolPixmap(const QString &name, int size, const QColor &tint)
{
    if (tint.isValid())
        return symbol(name, tint).pixmap(size, size);
    return symbol(name).pixmap(size, size);
}

int symbolSize(const QFont &font)
{
    return std::max(8, QFontInfo(font).pixelSize());
}

} // namespace Toolkit
