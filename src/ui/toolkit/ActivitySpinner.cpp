#include "ui/toolkit/ActivitySpinner.h"

#include "ui/toolkit/Style.h"

#include <QPainter>
#include <QTimer>

#include <algorithm>
#include <cmath>

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
    const QColor base = Toolkit::color(Toolkit::NamedColor::Secondary, 1.0);
    for (int i = 0; i < kSpinnerSpokes; ++i) {
        // The newest spoke is the darkest; the trail fades behind it.
        const int age = (m_step - i + kSpinnerSpokes) % kSpinnerSpokes;
        QPen pen(Toolkit::withAlphaFactor(base, 1.0 - 0.8 * age / kSpinnerSpokes), std::max(1.5, side / 9));
        pen.setCapStyle(Qt::RoundCap);
        painter.setPen(pen);
        const qreal angle = 2 * M_PI * i / kSpinnerSpokes - M_PI / 2;
        painter.drawLine(QPointF(std::cos(angle) * inner, std::sin(angle) * inner),
                         QPointF(std::cos(angle) * outer, std::sin(angle) * outer));
    }
}
