#include "ui/main_window/StatusIndicator.h"

#include "ui/toolkit/Symbols.h"

#include <QHBoxLayout>

using Toolkit::NamedColor;
using Toolkit::TextStyle;
using Toolkit::Weight;

StatusIndicator::StatusIndicator(const QString &title, bool isOk, QWidget *parent)
    : QWidget(parent)
    , m_symbol(new SymbolView(QString(), Toolkit::symbolSize(Toolkit::font(TextStyle::Body)), std::nullopt, this))
    , m_title(new TextLabel(title, this))
{
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(4);
    m_title->setTextStyle(TextStyle::Caption, Weight::Semibold);
    row->addWidget(m_symbol, 0, Qt::AlignVCenter);
    row->addWidget(m_title, 0, Qt::AlignVCenter);
    setOk(isOk);
}

void StatusIndicator::setOk(bool isOk)
{
    m_isOk = isOk;
    m_symbol->setSymbol(isOk ? QStringLiteral("checkmark.circle.fill") : QStringLiteral("xmark.circle.fill"));
    m_symbol->setTint(ColorRef{isOk ? NamedColor::Green : NamedColor::Red});
}
