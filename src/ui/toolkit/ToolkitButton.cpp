#include "ui/toolkit/ToolkitButton.h"

#include "ui/toolkit/ActivitySpinner.h"
#include "ui/toolkit/ElidedLabel.h"
#include "ui/toolkit/Shapes.h"
#include "ui/toolkit/SymbolView.h"
#include "ui/toolkit/Symbols.h"

#include <QEnterEvent>
#include <QEvent>
#include <QFocusEvent>
#include <QHBoxLayout>
#include <QPainter>

using Toolkit::NamedColor;

namespace {

constexpr qreal kButtonRadius = 6;

// A disabled control's label and symbol are drawn at this fraction of their opacity.
constexpr qreal kDisabledDimming = 0.45;

} // namespace

ToolkitButton::ToolkitButton(Style style, QWidget *parent)
    : QAbstractButton(parent)
    , m_style(style)
    , m_layout(new QHBoxLayout(this))
    , m_symbol(new SymbolView(QString(), 14, std::nullopt, this))
    , m_spinner(new ActivitySpinner(this))
    , m_title(new ElidedLabel(QString(), this))
{
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setAttribute(Qt::WA_Hover);
    if (style == Style::Link)
        setCursor(Qt::PointingHandCursor);

    if (style == Style::Link)
        m_layout->setContentsMargins(2, 1, 2, 1);
    else
        m_layout->setContentsMargins(8, 4, 8, 4);
    m_layout->setSpacing(4);
    m_layout->setAlignment(Qt::AlignCenter);
    m_layout->addWidget(m_symbol);
    m_layout->addWidget(m_spinner);
    m_layout->addWidget(m_title);
    for (QWidget *part : {static_cast<QWidget *>(m_symbol), static_cast<QWidget *>(m_spinner),
                          static_cast<QWidget *>(m_title)})
        part->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_title->setAlignment(Qt::AlignCenter);
    m_title->setTextStyle(Toolkit::TextStyle::Body);
    updateLabelParts();
    restyle();
}

void ToolkitButton::setTitle(const QString &text)
{
    setText(text);
    m_title->setText(text);
    m_title->setVisible(!text.isEmpty());
    updateGeometry();
}

void ToolkitButton::setSymbol(const QString &name)
{
    m_symbol->setSymbol(name);
    updateLabelParts();
}

QString ToolkitButton::symbolName() const
{
    return m_symbol->symbolName();
}

void ToolkitButton::setShowsSpinner(bool shows)
{
    m_showsSpinner = shows;
    updateLabelParts();
}

void ToolkitButton::setLabelSpacing(int spacing)
{
    m_layout->setSpacing(spacing);
}

void ToolkitButton::setTint(std::optional<ColorRef> tint)
{
    m_tint = tint;
    restyle();
}

void ToolkitButton::setLabelColor(std::optional<ColorRef> color)
{
    m_labelColor = color;
    restyle();
}

std::optional<ColorRef> ToolkitButton::labelColor() const
{
    if (m_labelColor)
        return m_labelColor;
    switch (m_style) {
    case Style::Prominent: return ColorRef{NamedColor::White};
    case Style::Bordered: return m_tint;
    case Style::Link: return m_tint ? m_tint : ColorRef{NamedColor::Blue};
    }
    return std::nullopt;
}

void ToolkitButton::setLabelFont(Toolkit::TextStyle style, std::optional<Toolkit::Weight> weight)
{
    if (weight)
        m_title->setTextStyle(style, *weight);
    else
        m_title->setTextStyle(style);
    m_symbol->setSymbolSide(Toolkit::symbolSize(m_title->font()));
    updateGeometry();
}

void ToolkitButton::updateLabelParts()
{
    m_symbol->setSymbolSide(Toolkit::symbolSize(m_title->font()));
    m_symbol->setVisible(!m_showsSpinner && !m_symbol->symbolName().isEmpty());
    m_spinner->setVisible(m_showsSpinner);
    updateGeometry();
}

void ToolkitButton::restyle()
{
    const qreal dimming = isEnabled() ? 1.0 : kDisabledDimming;
    const std::optional<ColorRef> color = labelColor();
    m_title->setTextColor(color);
    m_title->setDimming(dimming);
    m_symbol->setTint(color);
    m_symbol->setDimming(dimming);
    update();
}

QSize ToolkitButton::sizeHint() const
{
    return m_layout->totalSizeHint();
}

QSize ToolkitButton::minimumSizeHint() const
{
    return m_layout->totalMinimumSize();
}

void ToolkitButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF bezel = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const qreal enabledFactor = isEnabled() ? 1.0 : 0.5;
    const bool pressed = isDown();
    const bool hovered = m_hovered && isEnabled();

    if (m_style != Style::Link) {
        QColor fill;
        if (m_style == Style::Prominent) {
            fill = (m_tint ? *m_tint : ColorRef{NamedColor::Blue}).resolve();
            if (pressed)
                fill = fill.alphaF() < 1.0 ? Toolkit::withAlphaFactor(fill, 1.6) : fill.darker(118);
            else if (hovered)
                fill = fill.alphaF() < 1.0 ? Toolkit::withAlphaFactor(fill, 1.25) : fill.lighter(108);
        } else {
            fill = m_tint ? Toolkit::withAlphaFactor(m_tint->resolve(), 0.16) : Toolkit::color(NamedColor::Gray, 0.22);
            if (pressed)
                fill = Toolkit::withAlphaFactor(fill, 1.8);
            else if (hovered)
                fill = Toolkit::withAlphaFactor(fill, 1.35);
        }
        painter.fillPath(continuousRoundedRect(bezel, kButtonRadius), Toolkit::withAlphaFactor(fill, enabledFactor));
    } else if (pressed) {
        painter.setOpacity(0.6);
    }

    if (hasFocus() && m_keyboardFocus) {
        QPen ring(Toolkit::color(NamedColor::Blue, 0.6), 2);
        painter.setPen(ring);
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(continuousRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), kButtonRadius));
    }
}

void ToolkitButton::changeEvent(QEvent *event)
{
    QAbstractButton::changeEvent(event);
    if (event->type() == QEvent::EnabledChange || Toolkit::isPaletteChange(event))
        restyle();
    if (event->type() == QEvent::ApplicationFontChange)
        updateLabelParts();
}

void ToolkitButton::focusInEvent(QFocusEvent *event)
{
    m_keyboardFocus = event->reason() == Qt::TabFocusReason || event->reason() == Qt::BacktabFocusReason
                      || event->reason() == Qt::ShortcutFocusReason;
    QAbstractButton::focusInEvent(event);
}

void ToolkitButton::focusOutEvent(QFocusEvent *event)
{
    m_keyboardFocus = false;
    QAbstractButton::focusOutEvent(event);
}

void ToolkitButton::enterEvent(QEnterEvent *event)
{
    m_hovered = true;
    update();
    QAbstractButton::enterEvent(event);
}

void ToolkitButton::leaveEvent(QEvent *event)
{
    m_hovered = false;
    update();
    QAbstractButton::leaveEvent(event);
}
