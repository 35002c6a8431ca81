#include "ui/toolkit/Shapes.h"

#include <algorithm>

namespace {

// How far before the corner a continuous corner leaves the straight edge, per unit of radius,
// and where its control points sit (a fraction of that distance): the corner's middle then lies
// where a circular corner's middle would.
constexpr qreal kContinuousReach = 1.52;
constexpr qreal kContinuousHandle = 0.181;

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
