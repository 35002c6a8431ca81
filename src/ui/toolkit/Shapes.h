#pragma once

#include <QPainterPath>
#include <QRectF>

// A rounded rectangle whose corners blend smoothly into the straight edges (the curve starts a
// little before a circular corner would and has no sudden change of curvature). A radius of 0
// gives the plain rectangle.
QPainterPath continuousRoundedRect(const QRectF &rect, qreal radius);
