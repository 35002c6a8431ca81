#include "ui/main_window/EmptyDisksView.h"

#include "ui/toolkit/SymbolView.h"
#include "ui/toolkit/Symbols.h"

#include <QVBoxLayout>

using Toolkit::NamedColor;
using Toolkit::TextStyle;
using Toolkit::Weight;

EmptyDisksView::EmptyDisksView(QWidget *parent)
    : QWidget(parent)
    , m_refresh(new ToolkitButton(ToolkitButton::Style::Bordered, this))
{
    auto *stack = new QVBoxLayout(this);
    stack->setContentsMargins(40, 40, 40, 40);
    stack->setSpacing(16);

    auto *icon = new SymbolView(QStringLiteral("opticaldiscdrive"), Toolkit::symbolSize(Toolkit::systemFont(48)),
                                ColorRef{NamedColor::Secondary, 0.5}, this);

    auto *texts = new QVBoxLayout;
    texts->setSpacing(6);
    auto *headline = new TextLabel(QStringLiteral("検出されたNTFSドライブはありません"), this);
    headline->setTextStyle(TextStyle::Body, Weight::Semibold);
    headline->setAlignment(Qt::AlignCenter);
    auto *hint = new TextLabel(QStringLiteral("NTFSフォーマットの外付けディスクを接続してください。"), this);
    hint->setTextStyle(TextStyle::Caption);
    hint->setTextColor(ColorRef{NamedColor::Secondary});
    hint->setAlignment(Qt::AlignCenter);
    texts->addWidget(headline, 0, Qt::AlignHCenter);
    texts->addWidget(hint, 0, Qt::AlignHCenter);

    m_refresh->setTitle(QStringLiteral("再検出"));
    connect(m_refresh, &QAbstractButton::clicked, this, [this] {
        if (m_onRefresh)
            m_onRefresh();
    });

    stack->addWidget(icon, 0, Qt::AlignHCenter);
    stack->addLayout(texts);
    stack->addWidget(m_refresh, 0, Qt::AlignHCenter);
}
