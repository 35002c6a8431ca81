#pragma once

#include "ui/toolkit/Style.h"

#include <QLabel>
#include <QMargins>

#include <optional>

class QPainter;

// A label in a toolkit text style and colour, optionally on a filled rounded background. Its
// colours are named ones resolved against the current palette, so a palette change (light to
// dark) restyles it.
class TextLabel : public QLabel {
    Q_OBJECT
public:
    explicit TextLabel(const QString &text = QString(), QWidget *parent = nullptr);

    void setTextStyle(Toolkit::TextStyle style);
    void setTextStyle(Toolkit::TextStyle style, Toolkit::Weight weight);

    // Without a colour the label uses the palette's text colour.
    void setTextColor(std::optional<ColorRef> color);
    // The colour the text is drawn in now.
    QColor resolvedTextColor() const;

    // A fill behind the whole label (padding included), clipped to a continuous rounded rectangle.
    void setBackground(std::optional<ColorRef> fill, qreal cornerRadius = 0);

    void setPadding(const QMargins &padding) { setContentsMargins(padding); }
    // The user can select the text with the mouse or keyboard and copy it.
    void setSelectable(bool selectable);

    // Colours drawn at this fraction of their opacity (a disabled control's label).
    void setDimming(qreal factor);

protected:
    void changeEvent(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    // The background fill, when there is one.
    void paintBackground(QPainter &painter) const;

    virtual void restyle();

private:
    // Without a style the label keeps the font it inherits.
    std::optional<Toolkit::TextStyle> m_style;
    std::optional<Toolkit::Weight> m_weight;
    std::optional<ColorRef> m_color;
    std::optional<ColorRef> m_background;
    qreal m_cornerRadius = 0;
    qreal m_dimming = 1.0;
    bool m_restyling = false;
};
