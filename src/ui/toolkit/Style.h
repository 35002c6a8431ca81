#pragma once

#include <QColor>
#include <QFont>

class QEvent;

// The look every view takes its fonts and colours from. No view hard-codes a colour or a font.
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
// `color` with its opacity scaled by `factor` (clamped to fully opaque).
QColor withAlphaFactor(QColor color, qreal factor);

// True for the events after which named colours must be resolved again.
bool isPaletteChange(const QEvent *event);

// Gives the application its look: the application font with a Japanese fallback family, so the
// Japanese texts never fall back to a Chinese glyph variant or to empty boxes.
void applyApplicationLook();
// `font` with the Japanese family (when one is installed) after its own families.
QFont withJapaneseFallback(QFont font);

} // namespace Toolkit

// A named colour with an opacity, resolved against the palette each time it is drawn.
struct ColorRef {
    Toolkit::NamedColor name = Toolkit::NamedColor::Secondary;
    qreal opacity = 1.0;

    QColor resolve() const { return Toolkit::color(name, opacity); }
    friend bool operator==(const ColorRef &, const ColorRef &) = default;
};
