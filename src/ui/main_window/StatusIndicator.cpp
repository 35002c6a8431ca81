#include "ui/main_window/StatusIndicator.h"

#include "ui/toolkit/SymbolView.h"
#include "ui/toolkit/Symbols.h"
#include "ui/toolkit/TextLabel.h"

#include <QHBoxLayout>

using Toolkit::NamedColor;
using Toolkit::TextStyle;
using Toolkit::Weight;

StatusIndicator::StatusIndicator(const QString &title, bool isOk, QWidget *parent)
    : QWidget(parent)
    , m_symbol(new SymbolView(QString(), Toolkit::symbolSize(Toolkit::font(TextStyle::Body)), std::nullopt, this))
{
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(4);
    auto *name = new TextLabel(title, this);
    name->setTextStyle(TextStyle::Caption, Weight::Semibold);
    row->addWidget(m_symbol, 0, Qt::AlignVCenter);
    row->addWidget(name, 0, Qt::AlignVCenter);
    setOk(isOk);
}

void StatusIndicator::setOk(bool isOk)
{
    m_symbol->setSymbol(isOk ? QStringLiteral("checkmark.circle.fill") : QStringLiteral("xmark.circle.fill"));
    m_symbol->setTint(ColorRef{isOk ? NamedColor::Green : NamedColor::Red});
}
