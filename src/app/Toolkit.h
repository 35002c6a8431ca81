#pragma once

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QPainterPath>
#include <QPixmap>
#include <QString>
#include <QStringList>

class QPainter;
class QRectF;

// The one place views get their look from: symbol images by name, named colours with opacity,
// and text styles. No view hard-codes a colour or a font.
//
// Sizes are layout points: one point is one device-independent pixel at 96 dpi, the unit the
// views use for their frames, so a 13-point body text sits in a 13-pixel line on a normal screen
// and grows with the desktop's font resolution.
namespace Toolkit {

enum class TextStyle { Title2, Headline, Subheadline, Body, Caption };
enum class Weight { Regular, Semibold, Bold };

QFont font(TextStyle style);
QFont font(TextStyle style, Weight weight);
// The system font at a point size.
QFont systemFont(qreal pointSize, Weight weight = Weight::Regular);

enum class NamedColor {
    Blue, Green, Red, Orange, Gray, White, Black,
    Secondary,         // secondary foreground (text)
    WindowBackground,
    ControlBackground,
};
// The colour for the application's current palette: the accent colours take a darker shade on
// light backgrounds and a lighter one on dark backgrounds, so text in them stays readable.
QColor color(NamedColor name, qreal opacity = 1.0);
// Whether the application's palette has a dark window background.
bool isDarkPalette();

// A symbol image by name ("opticaldiscdrive", "eject.fill", "arrow.clockwise", …): the icon
// theme's equivalent when the theme has one, otherwise a drawn fallback, so every symbol shows
// on a bare system. Unknown names give a null icon. Drawn symbols take the palette's text colour
// (greyed when disabled, the highlighted-text colour when selected).
QIcon symbol(const QString &name);
// The same symbol drawn in `tint` (a drawn symbol in a theme's stead, so the colour holds).
QIcon symbol(const QString &name, const QColor &tint);
// The symbol drawn at `size` device-independent pixels, tinted with `tint` when it is valid.
QPixmap symbolPixmap(const QString &name, int size, const QColor &tint = QColor());

// Every symbol name the layer knows.
QStringList symbolNames();
// The drawn form of a symbol: a filled outline in a 24 × 24 box; empty for an unknown name.
QPainterPath symbolPath(const QString &name);
// Draws the drawn form of `name` centred in `rect` (as large as the shorter side allows).
void paintSymbol(QPainter &painter, const QString &name, const QRectF &rect, const QColor &color);

// Gives the application its look: the application font with a Japanese fallback family, so the
// Japanese texts never fall back to a Chinese glyph variant or to empty boxes.
void applyApplicationLook();
// `font` with the Japanese family (when one is installed) after its own families.
QFont withJapaneseFallback(QFont font);

} // namespace Toolkit
