#include "ui/toolkit/Divider.h"

Divider::Divider(ColorRef color, QWidget *parent)
    : Surface(parent)
{
    setFill(color);
    setFixedHeight(1);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}
