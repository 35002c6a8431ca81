#include "ui/toolkit/Divider.h"

#include <QEvent>
#include <QPainter>

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
    if (Toolkit::isPaletteChange(event))
        update();
}
