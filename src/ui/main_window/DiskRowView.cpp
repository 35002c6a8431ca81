#include "ui/main_window/DiskRowView.h"

#include "ui/toolkit/ActivitySpinner.h"
#include "ui/toolkit/ElidedLabel.h"
#include "ui/toolkit/Symbols.h"
#include "ui/toolkit/ToolkitButton.h"

#include <QEvent>
#include <QGraphicsDropShadowEffect>
#include <QHBoxLayout>
#include <QPainter>
#include <QVBoxLayout>

using Toolkit::NamedColor;
using Toolkit::TextStyle;
using Toolkit::Weight;

namespace {

constexpr int kDotSide = 10;
constexpr qreal kDotStroke = 1.5;
constexpr qreal kCardRadius = 10;

// Room for the half of the dot's outline that lies outside the dot.
constexpr int kDotOverhang = 1;

} // namespace

DriveIcon::DriveIcon(QWidget *parent)
    : QWidget(parent)
    , m_side(Toolkit::symbolSize(Toolkit::systemFont(32)))
{
    setFixedSize(sizeHint());
}

QSize DriveIcon::sizeHint() const
{
    return {m_side + kDotOverhang, m_side + kDotOverhang};
}

void DriveIcon::setColors(ColorRef icon, ColorRef dot)
{
    m_icon = icon;
    m_dot = dot;
    update();
}

void DriveIcon::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const QPixmap drive = Toolkit::symbolPixmap(QStringLiteral("externaldrive.fill"), m_side, m_icon.resolve());
    if (!drive.isNull())
        painter.drawPixmap(QRectF(0, 0, m_side, m_side), drive, QRectF(drive.rect()));

    // The dot shares the image's bottom-trailing corner; its outline is centred on its edge.
    const QRectF dot(m_side - kDotSide, m_side - kDotSide, kDotSide, kDotSide);
    painter.setPen(QPen(Toolkit::color(NamedColor::White), kDotStroke));
    painter.setBrush(m_dot.resolve());
    painter.drawEllipse(dot);
}

void DriveIcon::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (Toolkit::isPaletteChange(event))
        update();
}

// ---------------------------------------------------------------------------------------------

DiskRowView::MountState DiskRowView::mountState(const NTFSDisk &disk)
{
    if (disk.isWritable)
        return MountState::Writable;
    if (disk.mountPoint)
        return MountState::ReadOnly;
    return MountState::NotMounted;
}

DiskRowView::Appearance DiskRowView::appearance(MountState state)
{
    switch (state) {
    case MountState::Writable:
        return {{NamedColor::Green}, {NamedColor::Green}, QStringLiteral("読み書き可能 (FUSE)"), {NamedColor::Green}};
    case MountState::ReadOnly:
        return {{NamedColor::Blue}, {NamedColor::Blue}, QStringLiteral("読み取り専用 (OS標準)"), {NamedColor::Blue}};
    case MountState::NotMounted:
        break;
    }
    return {{NamedColor::Secondary}, {NamedColor::Gray}, QStringLiteral("未マウント"), {NamedColor::Secondary}};
}

DiskRowView::DiskRowView(QWidget *parent)
    : Surface(parent)
    , m_icon(new DriveIcon(this))
    , m_name(new ElidedLabel(QString(), this))
    , m_badge(new TextLabel(QString(), this))
    , m_size(new TextLabel(QString(), this))
    , m_state(new TextLabel(QString(), this))
    , m_spinnerFrame(new QWidget(this))
    , m_spinner(new ActivitySpinner(m_spinnerFrame))
    , m_unmount(new ToolkitButton(ToolkitButton::Style::Bordered, this))
    , m_mount(new ToolkitButton(ToolkitButton::Style::Prominent, this))
{
    setFill(ColorRef{NamedColor::ControlBackground});
    setCornerRadius(kCardRadius);
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(12, 12, 12, 12);
    row->setSpacing(16);

    // Texts: name and badge, then size and state.
    m_name->setTextStyle(TextStyle::Body, Weight::Semibold);
    m_badge->setTextStyle(TextStyle::Caption);
    m_badge->setTextColor(ColorRef{NamedColor::Secondary});
    m_badge->setPadding(QMargins(6, 2, 6, 2));
    m_badge->setBackground(ColorRef{NamedColor::Secondary, 0.15}, 4);
    m_badge->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    m_size->setTextStyle(TextStyle::Caption);
    m_size->setTextColor(ColorRef{NamedColor::Secondary});
    m_state->setTextStyle(TextStyle::Caption);

    auto *firstLine = new QHBoxLayout;
    firstLine->setSpacing(8);
    firstLine->addWidget(m_name, 0, Qt::AlignVCenter);
    firstLine->addWidget(m_badge, 0, Qt::AlignVCenter);
    firstLine->addStretch(1);
    auto *secondLine = new QHBoxLayout;
    secondLine->setSpacing(12);
    secondLine->addWidget(m_size, 0, Qt::AlignVCenter);
    secondLine->addWidget(m_state, 0, Qt::AlignVCenter);
    secondLine->addStretch(1);
    auto *texts = new QVBoxLayout;
    texts->setSpacing(4);
    texts->addLayout(firstLine);
    texts->addLayout(secondLine);

    // The trailing control, one of three.
    m_spinnerFrame->setFixedWidth(kSpinnerFrameWidth);
    auto *spinnerLayout = new QHBoxLayout(m_spinnerFrame);
    spinnerLayout->setContentsMargins(0, 0, 0, 0);
    spinnerLayout->addWidget(m_spinner, 0, Qt::AlignCenter);

    m_unmount->setTitle(QStringLiteral("アンマウント"));
    m_unmount->setTint(ColorRef{NamedColor::Red});
    m_unmount->setFixedWidth(kUnmountFrameWidth);
    connect(m_unmount, &QAbstractButton::clicked, this, [this] {
        const auto action = m_onUnmount; // the action may replace it
        if (action)
            action();
    });

    m_mount->setTitle(QStringLiteral("読み書きマウント"));
    m_mount->setSymbol(QStringLiteral("pencil.and.outline"));
    m_mount->setLabelSpacing(4);
    m_mount->setTint(ColorRef{NamedColor::Blue});
    m_mount->setFixedWidth(kMountFrameWidth);
    connect(m_mount, &QAbstractButton::clicked, this, [this] {
        const auto action = m_onMount;
        if (action)
            action();
    });

    row->addWidget(m_icon, 0, Qt::AlignVCenter);
    row->addLayout(texts, 1);
    row->addWidget(m_spinnerFrame, 0, Qt::AlignVCenter);
    row->addWidget(m_unmount, 0, Qt::AlignVCenter);
    row->addWidget(m_mount, 0, Qt::AlignVCenter);

    // The card's soft shadow.
    auto *shadow = new QGraphicsDropShadowEffect(this);
    shadow->setColor(Toolkit::color(NamedColor::Black, 0.05));
    shadow->setBlurRadius(3);
    shadow->setOffset(0, 1);
    setGraphicsEffect(shadow);

    refresh();
}

void DiskRowView::setDisk(const NTFSDisk &disk)
{
    m_disk = disk;
    refresh();
}

void DiskRowView::setOperating(bool operating)
{
    m_isOperating = operating;
    refresh();
}

void DiskRowView::setAllDepsInstalled(bool installed)
{
    m_isAllDepsInstalled = installed;
    refresh();
}

void DiskRowView::refresh()
{
    const MountState state = mountState(m_disk);
    const Appearance look = appearance(state);
    m_icon->setColors(look.icon, look.dot);
    m_name->setText(m_disk.volumeName);
    m_badge->setText(m_disk.deviceNode);
    m_size->setText(m_disk.formattedSize());
    m_state->setText(look.label);
    m_state->setTextColor(look.labelColor);

    m_spinnerFrame->setVisible(m_isOperating);
    m_unmount->setVisible(!m_isOperating && state == MountState::Writable);
    m_mount->setVisible(!m_isOperating && state != MountState::Writable);
    m_mount->setEnabled(m_isAllDepsInstalled);
}

void DiskRowView::changeEvent(QEvent *event)
{
    Surface::changeEvent(event);
    if (Toolkit::isPaletteChange(event))
        if (auto *shadow = qobject_cast<QGraphicsDropShadowEffect *>(graphicsEffect()))
            shadow->setColor(Toolkit::color(NamedColor::Black, 0.05));
}
