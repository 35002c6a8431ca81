#pragma once

// The building blocks the main window's views are made of: labels, symbols, buttons, a small
// spinner and filled surfaces. Every colour is a named toolkit colour resolved against the
// current palette when it is used, so a palette change (light to dark) restyles everything.

#include "app/Toolkit.h"

#include <QAbstractButton>
#include <QLabel>
#include <QMargins>
#include <QPainterPath>
#include <QWidget>

#include <optional>

class QHBoxLayout;
class QTimer;

// A named toolkit colour with an opacity.
struct ColorRef {
    Toolkit::NamedColor name = Toolkit::NamedColor::Secondary;
    qreal opacity = 1.0;

    QColor resolve() const { return Toolkit::color(name, opacity); }
    friend bool operator==(const ColorRef &, const ColorRef &) = default;
};

// A rounded rectangle whose corners blend smoothly into the straight edges (the curve starts a
// little before a circular corner would and has no sudden change of curvature).
QPainterPath continuousRoundedRect(const QRectF &rect, qreal radius);

// True for the events after which toolkit colours must be resolved again.
bool isPaletteChange(const QEvent *event);

// The side of a square symbol drawn next to text in `font`.
int symbolSize(const QFont &font);

// A label in a toolkit text style and colour, optionally on a filled rounded background.
class TextLabel : public QLabel {
    Q_OBJECT
public:
    explicit TextLabel(const QString &text = QString(), QWidget *parent = nullptr);

    void setTextStyle(Toolkit::TextStyle style);
    void setTextStyle(Toolkit::TextStyle style, Toolkit::Weight weight);
    void setSystemFont(qreal pointSize, Toolkit::Weight weight = Toolkit::Weight::Regular);

    // Without a colour the label uses the palette's text colour.
    void setTextColor(std::optional<ColorRef> color);
    std::optional<ColorRef> textColor() const { return m_color; }
    // The colour the text is drawn in now.
    QColor resolvedTextColor() const;

    // A fill behind the whole label (padding included), clipped to a continuous rounded rectangle.
    void setBackground(std::optional<ColorRef> fill, qreal cornerRadius = 0);
    std::optional<ColorRef> background() const { return m_background; }
    qreal cornerRadius() const { return m_cornerRadius; }

    void setPadding(const QMargins &padding) { setContentsMargins(padding); }
    // The user can select the text with the mouse or keyboard and copy it.
    void setSelectable(bool selectable);

    // Colours drawn at this fraction of their opacity (a disabled control's label).
    void setDimming(qreal factor);

protected:
    void changeEvent(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

    virtual void restyle();

private:
    enum class FontKind { None, Style, System };
    FontKind m_fontKind = FontKind::None;
    Toolkit::TextStyle m_style = Toolkit::TextStyle::Body;
    std::optional<Toolkit::Weight> m_weight;
    qreal m_pointSize = 0;
    std::optional<ColorRef> m_color;
    std::optional<ColorRef> m_background;
    qreal m_cornerRadius = 0;
    qreal m_dimming = 1.0;
    bool m_restyling = false;
};

// A one-line label that ends in "…" when its text does not fit; line feeds show as blanks.
// The whole text is its tool tip while it is cut.
class ElidedLabel : public TextLabel {
    Q_OBJECT
public:
    explicit ElidedLabel(const QString &text = QString(), QWidget *parent = nullptr);

    // The text as drawn at the current width.
    QString displayedText() const;
    bool isElided() const { return displayedText() != oneLineText(); }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    bool event(QEvent *event) override;

private:
    QString oneLineText() const;
};

// A symbol image by name, tinted with a toolkit colour.
class SymbolView : public QWidget {
    Q_OBJECT
public:
    SymbolView(const QString &name, int size, std::optional<ColorRef> tint, QWidget *parent = nullptr);

    QString symbolName() const { return m_name; }
    void setSymbol(const QString &name);
    std::optional<ColorRef> tint() const { return m_tint; }
    void setTint(std::optional<ColorRef> tint);
    int symbolSide() const { return m_size; }
    void setSymbolSide(int size);
    void setDimming(qreal factor);

    QSize sizeHint() const override { return {m_size, m_size}; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    QString m_name;
    int m_size;
    std::optional<ColorRef> m_tint;
    qreal m_dimming = 1.0;
};

// The small indeterminate circular progress indicator. It turns while it is visible.
class ActivitySpinner : public QWidget {
    Q_OBJECT
public:
    explicit ActivitySpinner(QWidget *parent = nullptr);

    bool isAnimating() const;
    QSize sizeHint() const override { return {16, 16}; }
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    QTimer *m_timer;
    int m_step = 0;
};

// A push button in one of the toolkit's styles. Its label is a row of an optional symbol (or a
// spinner in the symbol's place) and a text.
class ToolkitButton : public QAbstractButton {
    Q_OBJECT
public:
    enum class Style {
        Bordered,  // a pale bezel, tinted when a tint is set
        Prominent, // filled with the tint, white label
        Link,      // the label alone, in the link colour
    };

    explicit ToolkitButton(Style style, QWidget *parent = nullptr);

    Style style() const { return m_style; }
    void setTitle(const QString &text);
    void setSymbol(const QString &name); // empty: none
    QString symbolName() const;
    // The spinner takes the symbol's place while this is true.
    void setShowsSpinner(bool shows);
    bool showsSpinner() const { return m_showsSpinner; }
    ActivitySpinner *spinner() const { return m_spinner; }
    void setLabelSpacing(int spacing);
    void setTint(std::optional<ColorRef> tint);
    std::optional<ColorRef> tint() const { return m_tint; }
    // The label's colour; by default white on a prominent button, the tint on a bordered one
    // (the palette's text colour without a tint) and blue on a link.
    void setLabelColor(std::optional<ColorRef> color);
    std::optional<ColorRef> labelColor() const;
    void setLabelFont(Toolkit::TextStyle style, std::optional<Toolkit::Weight> weight = std::nullopt);
    TextLabel *titleLabel() const { return m_title; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    void restyle();
    void updateLabelParts();

    Style m_style;
    std::optional<ColorRef> m_tint;
    std::optional<ColorRef> m_labelColor;
    bool m_showsSpinner = false;
    bool m_keyboardFocus = false;
    bool m_hovered = false;
    QHBoxLayout *m_layout;
    SymbolView *m_symbol;
    ActivitySpinner *m_spinner;
    ElidedLabel *m_title;
};

// A plain container that paints a fill and an optional border behind its children. Padding is
// its contents margins.
class Surface : public QWidget {
    Q_OBJECT
public:
    explicit Surface(QWidget *parent = nullptr);

    void setFill(std::optional<ColorRef> fill);
    std::optional<ColorRef> fill() const { return m_fill; }
    // Corners: 0 for square ones; otherwise continuous rounded corners of this radius.
    void setCornerRadius(qreal radius);
    qreal cornerRadius() const { return m_radius; }
    // A border of `width` drawn just inside the edge.
    void setBorder(std::optional<ColorRef> color, qreal width = 1.0);
    std::optional<ColorRef> border() const { return m_border; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    std::optional<ColorRef> m_fill;
    std::optional<ColorRef> m_border;
    qreal m_borderWidth = 1.0;
    qreal m_radius = 0;
};

// A one-pixel horizontal divider line.
class Divider : public QWidget {
    Q_OBJECT
public:
    explicit Divider(ColorRef color, QWidget *parent = nullptr);
    ColorRef color() const { return m_color; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    ColorRef m_color;
};
