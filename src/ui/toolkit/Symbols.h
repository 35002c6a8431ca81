#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QString>

class QFont;
class QPainter;
class QRectF;

// Symbol images by name ("opticaldiscdrive", "eject.fill", "arrow.clockwise", …): the icon
// theme's equivalent when the theme has one, otherwise a drawn fallback, so every symbol shows on
// a bare system.
namespace Toolkit {

// The symbol: the theme's icon, or the drawn one in the palette's text colour (greyed when
// disabled, the highlighted-text colour when selected). Unknown names give a null icon.
QIcon symbol(const QString &name);
// The same symbol drawn in `tint` (a drawn symbol in a theme's stead, so the colour holds).
QIcon symbol(const QString &name, const QColor &tint);
// The symbol drawn at `size` device-independent pixels, tinted with `tint` when it is valid.
QPixmap symbolPixmap(const QString &name, int size, const QColor &tint = QColor());

// Draws the drawn form of `name` centred in `rect` (as large as the shorter side allows).
void paintSymbol(QPainter &painter, const QString &name, const QRectF &rect, const QColor &color);

// The side of a square symbol drawn next to text in `font`.
int symbolSize(const QFont &font);

} // namespace Toolkit
