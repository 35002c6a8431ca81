#include "ui/toolkit/TextLabel.h"

#include "ui/toolkit/Shapes.h"

#include <QApplication>
#include <QEvent>
#include <QPainter>

TextLabel::TextLabel(const QString &text, QWidget *parent)
    : QLabel(text, parent)
{
    setTextFormat(Qt::PlainText);
}

void TextLabel::setTextStyle(Toolkit::TextStyle style)
{
    m_style = style;
    m_weight.reset();
    restyle();
}

void TextLabel::setTextStyle(Toolkit::TextStyle style, Toolkit::Weight weight)
{
    m_style = style;
    m_weight = weight;
    restyle();
}

void TextLabel::setTextColor(std::optional<ColorRef> color)
{
    m_color = color;
    restyle();
}

QColor TextLabel::resolvedTextColor() const
{
    return palette().color(QPalette::WindowText);
}

void TextLabel::setBackground(std::optional<ColorRef> fill, qreal cornerRadius)
{
    m_background = fill;
    m_cornerRadius = cornerRadius;
    update();
}

void TextLabel::setSelectable(bool selectable)
{
    setTextInteractionFlags(selectable ? Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard
                                       : Qt::NoTextInteraction);
    if (selectable)
        setCursor(Qt::IBeamCursor);
    else
        unsetCursor();
}

void TextLabel::setDimming(qreal factor)
{
    m_dimming = factor;
    restyle();
}

void TextLabel::changeEvent(QEvent *event)
{
    QLabel::changeEvent(event);
    if (Toolkit::isPaletteChange(event) || event->type() == QEvent::ApplicationFontChange)
        restyle();
}

void TextLabel::restyle()
{
    if (m_restyling)
        return;
    m_restyling = true;
    if (m_style)
        setFont(m_weight ? Toolkit::font(*m_style, *m_weight) : Toolkit::font(*m_style));
    if (m_color || m_dimming != 1.0) {
        const QPalette inherited = parentWidget() ? parentWidget()->palette() : QApplication::palette();
        const QColor base = m_color ? m_color->resolve() : inherited.color(QPalette::Active, QPalette::WindowText);
        QPalette p = palette();
        p.setColor(QPalette::WindowText, Toolkit::withAlphaFactor(base, m_dimming));
        setPalette(p);
    } else {
        setPalette(QPalette()); // inherit again
    }
    m_restyling = false;
    update();
}

void TextLabel::paintBackground(QPainter &painter) const
{
    if (!m_background)
        return;
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillPath(continuousRoundedRect(QRectF(rect()), m_cornerRadius), m_background->resolve());
}

void TextLabel::paintEvent(QPaintEvent *event)
{
    if (m_background) {
        QPainter painter(this);
        paintBackground(painter);
    }
    QLabel::paintEvent(event);
}
