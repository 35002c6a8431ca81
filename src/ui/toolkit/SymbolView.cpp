#include "ui/toolkit/SymbolView.h"

#include "ui/toolkit/Symbols.h"

#include <QPainter>

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
    if (Toolkit::isPaletteChange(event))
        update();
}
