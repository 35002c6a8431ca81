#include "ui/menu_bar/StatusLabel.h"

#include "AppInfo.h"
#include "ui/toolkit/Style.h"
#include "ui/toolkit/Symbols.h"

#include <QFontMetricsF>
#include <QGuiApplication>
#include <QIconEngine>
#include <QPainter>
#include <QPalette>

#include <algorithm>

namespace {

// Draws the label into a square: the symbol filling it, the count's badge over its lower right.
class StatusLabelEngine : public QIconEngine {
public:
    explicit StatusLabelEngine(StatusLabel label)
        : m_label(std::move(label))
    {
    }

    void paint(QPainter *painter, const QRect &rect, QIcon::Mode mode, QIcon::State) override
    {
        draw(*painter, rect, mode);
    }

    QPixmap pixmap(const QSize &size, QIcon::Mode mode, QIcon::State) override
    {
        QPixmap pixmap(size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        draw(painter, QRectF(QPointF(0, 0), QSizeF(size)), mode);
        return pixmap;
    }

    QString key() const override { return QStringLiteral("quorvel-status-label"); }
    QIconEngine *clone() const override { return new StatusLabelEngine(m_label); }
    bool isNull() override { return false; }

private:
    void draw(QPainter &painter, const QRectF &rect, QIcon::Mode mode) const
    {
        const QPalette palette = QGuiApplication::palette();
        const QColor ink = palette.color(mode == QIcon::Disabled ? QPalette::Disabled : QPalette::Active,
                                         QPalette::WindowText);
        const QString count = m_label.countText();
        const qreal side = std::min(rect.width(), rect.height());
        const QRectF square(rect.center().x() - side / 2, rect.center().y() - side / 2, side, side);
        if (count.isEmpty()) {
            Toolkit::paintSymbol(painter, m_label.symbolName, square, ink);
            return;
        }
        // The symbol moves up a little to leave the badge room below it.
        Toolkit::paintSymbol(painter, m_label.symbolName, square.translated(0, -side * 0.14), ink);

        QFont font = Toolkit::font(Toolkit::TextStyle::Caption, Toolkit::Weight::Bold);
        font.setPixelSize(std::max(6, qRound(side * 0.46)));
        const QFontMetricsF metrics(font);
        const qreal height = std::min(side * 0.58, metrics.height() + 1);
        const qreal width = std::min(side, std::max(height, metrics.horizontalAdvance(count) + side * 0.16));
        const QRectF badge(square.right() - width, square.bottom() - height, width, height);

        painter.save();
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(Toolkit::color(Toolkit::NamedColor::Blue));
        painter.drawRoundedRect(badge, height / 2, height / 2);
        painter.setFont(font);
        painter.setPen(Toolkit::color(Toolkit::NamedColor::White));
        painter.drawText(badge, Qt::AlignCenter, count);
        painter.restore();
    }

    StatusLabel m_label;
};

} // namespace

StatusLabel StatusLabel::forDisks(const QList<NTFSDisk> &disks)
{
    StatusLabel label;
    label.writableCount = int(std::count_if(disks.begin(), disks.end(), [](const NTFSDisk &d) { return d.isWritable; }));
    return label;
}

QString StatusLabel::countText() const
{
    return writableCount > 0 ? QString::number(writableCount) : QString();
}

QString StatusLabel::toolTip() const
{
    const QString count = countText();
    return count.isEmpty() ? AppInfo::title() : AppInfo::title() + QStringLiteral("  ") + count;
}

QIcon StatusLabel::icon() const
{
    return QIcon(new StatusLabelEngine(*this));
}
