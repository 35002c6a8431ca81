#pragma once

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QPixmap>
#include <QString>

// The one place views get their look from: symbol images by name, named colours with opacity,
// and text styles. No view hard-codes a colour or a font.
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
QColor color(NamedColor name, qreal opacity = 1.0);

// A symbol image by name ("opticaldiscdrive", "eject.fill", "arrow.clockwise", …): the icon
// theme's equivalent when the theme has one, otherwise a drawn fallback, so every symbol shows
// on a bare system. Unknown names give a null icon.
QIcon symbol(const QString &name);
// The symbol drawn at `size` device-independent pixels, tinted with `tint` when it is valid.
QPixmap symbolPixmap(const QString &name, int size, const QColor &tint = QColor());

} // namespace Toolkit
