#include "ui/toolkit/Surface.h"

#include "ui/toolkit/Shapes.h"

#include <QEvent>
#include <QPainter>

#include <algorithm>

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
    if (Toolkit::isPaletteChange(event))
        update();
}
