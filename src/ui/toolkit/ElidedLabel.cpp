#include "ui/toolkit/ElidedLabel.h"

#include <QHelpEvent>
#include <QPainter>
#include <QToolTip>

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
    paintBackground(painter);
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
