#include "ui/main_window/HeaderView.h"

#include "AppInfo.h"
#include "ui/toolkit/ElidedLabel.h"
#include "ui/toolkit/SymbolView.h"
#include "ui/toolkit/Symbols.h"
#include "ui/toolkit/ToolkitButton.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

using Toolkit::NamedColor;
using Toolkit::TextStyle;
using Toolkit::Weight;

HeaderView::HeaderView(QWidget *parent)
    : Surface(parent)
    , m_refresh(new ToolkitButton(ToolkitButton::Style::Prominent, this))
{
    setFill(ColorRef{NamedColor::WindowBackground, 0.8});

    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(16, 12, 16, 12);

    // Title block.
    auto *titleBlock = new QVBoxLayout;
    titleBlock->setSpacing(4);
    auto *titleLine = new QHBoxLayout;
    titleLine->setSpacing(8);
    auto *icon = new SymbolView(QStringLiteral("opticaldiscdrive.fill"), Toolkit::symbolSize(Toolkit::font(TextStyle::Title2)),
                                ColorRef{NamedColor::Blue}, this);
    auto *title = new TextLabel(AppInfo::title(), this);
    title->setTextStyle(TextStyle::Headline, Weight::Bold);
    titleLine->addWidget(icon, 0, Qt::AlignVCenter);
    titleLine->addWidget(title, 0, Qt::AlignVCenter);
    titleLine->addStretch(1);
    auto *description = new ElidedLabel(QStringLiteral("NTFSドライブの読み書きマウントをサポートするよ"), this);
    description->setTextStyle(TextStyle::Caption);
    description->setTextColor(ColorRef{NamedColor::Secondary});
    titleBlock->addLayout(titleLine);
    titleBlock->addWidget(description);

    // The rescan button: pale blue fill, blue label.
    m_refresh->setTitle(QStringLiteral("再スキャン"));
    m_refresh->setSymbol(QStringLiteral("arrow.clockwise"));
    m_refresh->setLabelSpacing(6);
    m_refresh->setTint(ColorRef{NamedColor::Blue, 0.2});
    m_refresh->setLabelColor(ColorRef{NamedColor::Blue});
    connect(m_refresh, &QAbstractButton::clicked, this, [this] {
        if (m_onRefresh)
            m_onRefresh();
    });

    row->addLayout(titleBlock, 1);
    row->addWidget(m_refresh, 0, Qt::AlignVCenter);
    setScanning(false);
}

void HeaderView::setScanning(bool scanning)
{
    m_refresh->setShowsSpinner(scanning);
    m_refresh->setEnabled(!scanning);
}
