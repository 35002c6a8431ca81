#include "ui/main_window/Widgets.h"

#include <QApplication>
#include <QEnterEvent>
#include <QEvent>
#include <QFocusEvent>
#include <QFontInfo>
#include <QHBoxLayout>
#include <QHelpEvent>
#include <QPainter>
#include <QTimer>
#include <QToolTip>

#include <algorithm>
#include <cmath>

using Toolkit::NamedColor;

namespace {

// How far before the corner a continuous corner leaves the straight edge, per unit of radius,
// and where its control points sit (a fraction of that distance): the corner's middle then lies
// where a circular corner's middle would.
constexpr qreal kContinuousReach = 1.52;
constexpr qreal kContinuousHandle = 0.181;

QColor withAlphaFactor(QColor color, qreal factor)
{
    color.setAlphaF(std::clamp(color.alphaF() * factor, 0.0, 1.0));
    return color;
}

// A disabled control's label and symbol are drawn at this fraction of their opacity.
constexpr qreal kDisabledDimming = 0.45;

} // namespace

QPainterPath continuousRoundedRect(const QRectF &rect, qreal radius)
{
    QPainterPath path;
    if (radius <= 0 || rect.isEmpty()) {
        path.addRect(rect);
        return path;
    }
    const qreal reach = std::min({radius * kContinuousReach, rect.width() / 2, rect.height() / 2});
    const qreal handle = reach * kContinuousHandle;
    const qreal l = rect.left(), t = rect.top(), r = rect.right(), b = rect.bottom();

    path.moveTo(l + reach, t);
    path.lineTo(r - reach, t);
    path.cubicTo(r - handle, t, r, t + handle, r, t + reach);
    path.lineTo(r, b - reach);
    path.cubicTo(r, b - handle, r - handle, b, r - reach, b);
    path.lineTo(l + reach, b);
    path.cubicTo(l + handle, b, l, b - handle, l, b - reach);
    path.lineTo(l, t + reach);
    path.cubicTo(l, t + handle, l + handle, t, l + reach, t);
    path.closeSubpath();
    return path;
}

bool isPaletteChange(const QEvent *event)
{
    return event->type() == QEvent::PaletteChange || event->type() == QEvent::ApplicationPaletteChange;
}

int symbolSize(const QFont &font)
{
    return std::max(8, QFontInfo(font).pixelSize());
}

// ---------------------------------------------------------------------------------------------

TextLabel::TextLabel(const QString &text, QWidget *parent)
    : QLabel(text, parent)
{
    setTextFormat(Qt::PlainText);
}

void TextLabel::setTextStyle(Toolkit::TextStyle style)
{
    m_fontKind = FontKind::Style;
    m_style = style;
    m_weight.reset();
    restyle();
}

void TextLabel::setTextStyle(Toolkit::TextStyle style, Toolkit::Weight weight)
{
    m_fontKind = FontKind::Style;
    m_style = style;
    m_weight = weight;
    restyle();
}

void TextLabel::setSystemFont(qreal pointSize, Toolkit::Weight weight)
{
    m_fontKind = FontKind::System;
    m_pointSize = pointSize;
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
    if (isPaletteChange(event) || event->type() == QEvent::ApplicationFontChange)
        restyle();
}

void TextLabel::restyle()
{
    if (m_restyling)
        return;
    m_restyling = true;
    switch (m_fontKind) {
    case FontKind::Style:
        setFont(m_weight ? Toolkit::font(m_style, *m_weight) : Toolkit::font(m_style));
        break;
    case FontKind::System:
        setFont(Toolkit::systemFont(m_pointSize, m_weight.value_or(Toolkit::Weight::Regular)));
        break;
    case FontKind::None:
        break;
    }
    if (m_color || m_dimming != 1.0) {
        const QPalette inherited = parentWidget() ? parentWidget()->palette() : QApplication::palette();
        const QColor base = m_color ? m_color->resolve() : inherited.color(QPalette::Active, QPalette::WindowText);
        QPalette p = palette();
        p.setColor(QPalette::WindowText, withAlphaFactor(base, m_dimming));
        setPalette(p);
    } else {
        setPalette(QPalette()); // inherit again
    }
    m_restyling = false;
    update();
}

void TextLabel::paintEvent(QPaintEvent *event)
{
    if (m_background) {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.fillPath(continuousRoundedRect(QRectF(rect()), m_cornerRadius), m_background->resolve());
    }
    QLabel::paintEvent(event);
}

// ---------------------------------------------------------------------------------------------

ElidedLabel::ElidedLabel(const QString &text, QWidget *parent)
    : TextLabel(text, parent)
{
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

QString ElidedLabel::oneLineText() const
{
    QString line = text();
    line.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return line;
}

QString ElidedLabel::displayedText() const
{
    return fontMetrics().elidedText(oneLineText(), Qt::ElideRight, contentsRect().width());
}

QSize ElidedLabel::sizeHint() const
{
    const QFontMetrics fm = fontMetrics();
    const QMargins m = contentsMargins();
    return {fm.horizontalAdvance(oneLineText()) + m.left() + m.right() + 1, fm.height() + m.top() + m.bottom()};
}

QSize ElidedLabel::minimumSizeHint() const
{
    const QFontMetrics fm = fontMetrics();
    const QMargins m = contentsMargins();
    const int width = text().isEmpty() ? 0 : fm.horizontalAdvance(QStringLiteral("…")) * 2;
    return {width + m.left() + m.right(), fm.height() + m.top() + m.bottom()};
}

void ElidedLabel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    if (background()) {
        painter.setRenderHint(QPainter::Antialiasing);
        painter.fillPath(continuousRoundedRect(QRectF(rect()), cornerRadius()), background()->resolve());
    }
    painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
    painter.setFont(font());
    const Qt::Alignment vertical = alignment() & Qt::AlignVertical_Mask;
    painter.drawText(contentsRect(), int((alignment() & Qt::AlignHorizontal_Mask) | (vertical ? vertical : Qt::AlignVCenter)),
                     displayedText());
}

bool ElidedLabel::event(QEvent *event)
{
    if (event->type() == QEvent::ToolTip && toolTip().isEmpty()) {
        // The whole text, only while it is cut.
        if (isElided())
            QToolTip::showText(static_cast<QHelpEvent *>(event)->globalPos(), text(), this);
        else
            QToolTip::hideText();
        return true;
    }
    return TextLabel::event(event);
}

// ---------------------------------------------------------------------------------------------

SymbolView::SymbolView(const QString &name, int size, std::optional<ColorRef> tint, QWidget *parent)
    : QWidget(parent)
    , m_name(name)
    , m_size(size)
    , m_tint(tint)
{
    setFixedSize(size, size);
}

void SymbolView::setSymbol(const QString &name)
{
    m_name = name;
    update();
}

void SymbolView::setTint(std::optional<ColorRef> tint)
{
    m_tint = tint;
    update();
}

void SymbolView::setSymbolSide(int size)
{
    m_size = size;
    setFixedSize(size, size);
    update();
}

void SymbolView::setDimming(qreal factor)
{
    m_dimming = factor;
    update();
}

void SymbolView::paintEvent(QPaintEvent *)
{
    if (m_name.isEmpty())
        return;
    const QPixmap pixmap = Toolkit::symbolPixmap(m_name, m_size, m_tint ? m_tint->resolve() : QColor());
    if (pixmap.isNull())
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.setOpacity(m_dimming);
    const QSizeF logical = pixmap.deviceIndependentSize();
    const QRectF target(QPointF((width() - logical.width()) / 2, (height() - logical.height()) / 2), logical);
    painter.drawPixmap(target, pixmap, QRectF(pixmap.rect()));
}

void SymbolView::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (isPaletteChange(event))
        update();
}

// ---------------------------------------------------------------------------------------------

namespace {
constexpr int kSpinnerSpokes = 12;
constexpr int kSpinnerStepMs = 80;
} // namespace

ActivitySpinner::ActivitySpinner(QWidget *parent)
    : QWidget(parent)
    , m_timer(new QTimer(this))
{
    setFixedSize(sizeHint());
    m_timer->setInterval(kSpinnerStepMs);
    connect(m_timer, &QTimer::timeout, this, [this] {
        m_step = (m_step + 1) % kSpinnerSpokes;
        update();
    });
}

bool ActivitySpinner::isAnimating() const
{
    return m_timer->isActive();
}

void ActivitySpinner::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    m_timer->start();
}

void ActivitySpinner::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    m_timer->stop();
}

void ActivitySpinner::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal side = std::min(width(), height());
    const qreal outer = side / 2 - 1;
    const qreal inner = outer * 0.5;
    painter.translate(width() / 2.0, height() / 2.0);
    const QColor base = Toolkit::color(NamedColor::Secondary, 1.0);
    for (int i = 0; i < kSpinnerSpokes; ++i) {
        // The newest spoke is the darkest; the trail fades behind it.
        const int age = (m_step - i + kSpinnerSpokes) % kSpinnerSpokes;
        QPen pen(withAlphaFactor(base, 1.0 - 0.8 * age / kSpinnerSpokes), std::max(1.5, side / 9));
        pen.setCapStyle(Qt::RoundCap);
        painter.setPen(pen);
        const qreal angle = 2 * M_PI * i / kSpinnerSpokes - M_PI / 2;
        painter.drawLine(QPointF(std::cos(angle) * inner, std::sin(angle) * inner),
                         QPointF(std::cos(angle) * outer, std::sin(angle) * outer));
    }
}

// ---------------------------------------------------------------------------------------------

namespace {
constexpr qreal kButtonRadius = 6;
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
    m_symbol->setSymbolSide(symbolSize(m_title->font()));
    updateGeometry();
}

void ToolkitButton::updateLabelParts()
{
    m_symbol->setSymbolSide(symbolSize(m_title->font()));
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
                fill = fill.alphaF() < 1.0 ? withAlphaFactor(fill, 1.6) : fill.darker(118);
            else if (hovered)
                fill = fill.alphaF() < 1.0 ? withAlphaFactor(fill, 1.25) : fill.lighter(108);
        } else {
            fill = m_tint ? withAlphaFactor(m_tint->resolve(), 0.16) : Toolkit::color(NamedColor::Gray, 0.22);
            if (pressed)
                fill = withAlphaFactor(fill, 1.8);
            else if (hovered)
                fill = withAlphaFactor(fill, 1.35);
        }
        painter.fillPath(continuousRoundedRect(bezel, kButtonRadius), withAlphaFactor(fill, enabledFactor));
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
    if (event->type() == QEvent::EnabledChange || isPaletteChange(event))
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

// ---------------------------------------------------------------------------------------------

Surface::Surface(QWidget *parent)
    : QWidget(parent)
{
}

void Surface::setFill(std::optional<ColorRef> fill)
{
    m_fill = fill;
    update();
}

void Surface::setCornerRadius(qreal radius)
{
    m_radius = radius;
    update();
}

void Surface::setBorder(std::optional<ColorRef> color, qreal width)
{
    m_border = color;
    m_borderWidth = width;
    update();
}

void Surface::paintEvent(QPaintEvent *)
{
    if (!m_fill && !m_border)
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, m_radius > 0);
    const QRectF bounds(rect());
    if (m_fill)
        painter.fillPath(continuousRoundedRect(bounds, m_radius), m_fill->resolve());
    if (m_border) {
        // Inside the edge: the stroke's centre line is half a width in.
        const qreal half = m_borderWidth / 2;
        QPen pen(m_border->resolve(), m_borderWidth);
        pen.setJoinStyle(Qt::MiterJoin);
        painter.setPen(pen);
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(continuousRoundedRect(bounds.adjusted(half, half, -half, -half), std::max(0.0, m_radius - half)));
    }
}

void Surface::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (isPaletteChange(event))
        update();
}

// ---------------------------------------------------------------------------------------------

Divider::Divider(ColorRef color, QWidget *parent)
    : QWidget(parent)
    , m_color(color)
{
    setFixedHeight(1);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void Divider::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), m_color.resolve());
}

void Divider::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (isPaletteChange(event))
        update();
}
