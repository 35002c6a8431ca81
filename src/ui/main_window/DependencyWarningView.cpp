#include "ui/main_window/DependencyWarningView.h"

#include "dependencies/DependencyChecker.h"
#include "ui/toolkit/SymbolView.h"
#include "ui/toolkit/Symbols.h"

#include <QHBoxLayout>
#include <QPropertyAnimation>
#include <QTimer>
#include <QVBoxLayout>

using Toolkit::NamedColor;
using Toolkit::TextStyle;
using Toolkit::Weight;

namespace {

int s_animationDuration = 200;

QString toggleTitle(bool expanded)
{
    return expanded ? QStringLiteral("詳細を閉じる") : QStringLiteral("セットアップ方法を表示");
}

} // namespace

void DependencyWarningView::setAnimationDuration(int milliseconds)
{
    s_animationDuration = milliseconds;
}

DependencyWarningView::DependencyWarningView(DependencyChecker *checker, QWidget *parent)
    : Surface(parent)
    , m_checker(checker)
    , m_toggle(new ToolkitButton(ToolkitButton::Style::Link, this))
    , m_details(new QWidget(this))
    , m_progressBox(new Surface(m_details))
    , m_progressLabel(new TextLabel(QString(), m_progressBox))
    , m_idle(new QWidget(m_details))
    , m_instructions(new TextLabel(QString(), m_idle))
    , m_setup(new ToolkitButton(ToolkitButton::Style::Prominent, m_idle))
    , m_error(new TextLabel(QString(), m_idle))
    , m_animation(new QPropertyAnimation(m_details, "maximumHeight", this))
{
    setFill(ColorRef{NamedColor::Orange, 0.1});
    setBorder(ColorRef{NamedColor::Orange, 0.3}, 1);
    setCornerRadius(0);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Maximum);

    auto *panel = new QVBoxLayout(this);
    panel->setContentsMargins(12, 12, 12, 12);
    panel->setSpacing(8);

    // Header line.
    auto *header = new QHBoxLayout;
    auto *warning = new SymbolView(QStringLiteral("exclamationmark.triangle.fill"),
                                   Toolkit::symbolSize(Toolkit::font(TextStyle::Subheadline)), ColorRef{NamedColor::Orange}, this);
    auto *headline = new TextLabel(QStringLiteral("動作に必要な依存ツールが足りないよ！"), this);
    headline->setTextStyle(TextStyle::Subheadline, Weight::Bold);
    m_toggle->setLabelFont(TextStyle::Subheadline);
    m_toggle->setTitle(toggleTitle(false));
    connect(m_toggle, &QAbstractButton::clicked, this, [this] { setExpanded(!m_isExpanded); });
    header->addWidget(warning, 0, Qt::AlignVCenter);
    header->addWidget(headline, 0, Qt::AlignVCenter);
    header->addStretch(1);
    header->addWidget(m_toggle, 0, Qt::AlignVCenter);
    panel->addLayout(header);

    // Details: status row, then either the progress box or the instructions and setup button.
    auto *details = new QVBoxLayout(m_details);
    details->setContentsMargins(0, 4, 0, 0);
    details->setSpacing(10);

    auto *statusRow = new QHBoxLayout;
    statusRow->setSpacing(12);
    const Platform::Words &words = DependencyChecker::words(checker);
    for (const QString &tool : {words.packageManager, words.fuseLayer, words.ntfs3g}) {
        auto *indicator = new StatusIndicator(tool, false, m_details);
        m_indicators.append(indicator);
        statusRow->addWidget(indicator, 0, Qt::AlignVCenter);
    }
    statusRow->addStretch(1);
    details->addLayout(statusRow);

    m_progressBox->setFill(ColorRef{NamedColor::Black, 0.1});
    m_progressBox->setCornerRadius(6);
    auto *progressStack = new QVBoxLayout(m_progressBox);
    progressStack->setContentsMargins(8, 8, 8, 8);
    progressStack->setSpacing(6);
    auto *progressRow = new QHBoxLayout;
    progressRow->setSpacing(8);
    m_progressLabel->setTextStyle(TextStyle::Caption);
    m_progressLabel->setTextColor(ColorRef{NamedColor::Secondary});
    m_progressLabel->setWordWrap(true);
    progressRow->addWidget(new ActivitySpinner(m_progressBox), 0, Qt::AlignVCenter);
    progressRow->addWidget(m_progressLabel, 1, Qt::AlignVCenter);
    progressStack->addLayout(progressRow);
    details->addWidget(m_progressBox);

    auto *idle = new QVBoxLayout(m_idle);
    idle->setContentsMargins(0, 0, 0, 0);
    idle->setSpacing(8);
    m_instructions->setTextStyle(TextStyle::Caption);
    m_instructions->setPadding(QMargins(8, 8, 8, 8));
    m_instructions->setBackground(ColorRef{NamedColor::Black, 0.2}, 6);
    m_instructions->setWordWrap(true);
    m_instructions->setSelectable(true);
    idle->addWidget(m_instructions);

    auto *actions = new QHBoxLayout;
    m_setup->setTitle(QStringLiteral("依存ツールを自動セットアップ"));
    m_setup->setSymbol(QStringLiteral("square.and.arrow.down.on.square"));
    m_setup->setTint(ColorRef{NamedColor::Blue});
    connect(m_setup, &QAbstractButton::clicked, this, &DependencyWarningView::startSetup);
    m_error->setTextStyle(TextStyle::Caption);
    m_error->setTextColor(ColorRef{NamedColor::Red});
    m_error->setPadding(QMargins(8, 0, 0, 0));
    m_error->setWordWrap(true);
    m_error->setSelectable(true);
    actions->addWidget(m_setup, 0, Qt::AlignVCenter);
    actions->addWidget(m_error, 1, Qt::AlignVCenter);
    actions->addStretch(0); // keeps the button at the leading edge when there is no error
    idle->addLayout(actions);
    details->addWidget(m_idle);

    panel->addWidget(m_details);
    m_details->hide();

    connect(m_animation, &QPropertyAnimation::finished, this, [this] {
        m_details->setMaximumHeight(QWIDGETSIZE_MAX);
        m_details->setVisible(m_isShowingDetails);
    });

    if (m_checker) {
        m_instructions->setText(m_checker->setupInstructions());
        for (auto signal : {&DependencyChecker::isInstallingChanged, &DependencyChecker::isUninstallingChanged})
            connect(m_checker, signal, this, &DependencyWarningView::refresh);
        connect(m_checker, &DependencyChecker::statusChanged, this, &DependencyWarningView::refresh);
        connect(m_checker, &DependencyChecker::installProgressMessageChanged, this, &DependencyWarningView::refresh);
        connect(m_checker, &DependencyChecker::installErrorMessageChanged, this, &DependencyWarningView::refresh);
    }
    refresh();
}

void DependencyWarningView::setExpanded(bool expanded, bool animated)
{
    m_isExpanded = expanded;
    m_toggle->setTitle(toggleTitle(expanded));
    const bool installing = m_checker && m_checker->isInstalling();
    showDetails(m_isExpanded || installing, animated);
}

void DependencyWarningView::startSetup()
{
    if (!m_checker)
        return;
    // Started from the event loop; nothing waits for it here.
    QTimer::singleShot(0, m_checker, [checker = m_checker] {
        if (checker)
            checker->installDependencies();
    });
}

void DependencyWarningView::refresh()
{
    if (!m_checker)
        return;
    const DependencyStatus status = m_checker->status();
    m_indicators.at(0)->setOk(status.isHomebrewInstalled);
    m_indicators.at(1)->setOk(status.isFuseTInstalled);
    m_indicators.at(2)->setOk(status.ntfs3gPath.has_value());

    const bool installing = m_checker->isInstalling();
    m_progressBox->setVisible(installing);
    m_idle->setVisible(!installing);
    m_progressLabel->setText(m_checker->installProgressMessage());
    // Not while the footer's uninstall runs: the two never run at once.
    m_setup->setEnabled(!m_checker->isUninstalling());
    const QString error = m_checker->installErrorMessage();
    m_error->setText(error);
    m_error->setVisible(!error.isEmpty());

    // A running setup opens the details whatever the user chose; they close with it.
    showDetails(m_isExpanded || installing, false);
}

int DependencyWarningView::detailsHeight() const
{
    QLayout *layout = m_details->layout();
    const int width = contentsRect().width();
    if (layout->hasHeightForWidth() && width > 0)
        return layout->totalHeightForWidth(width);
    return layout->totalSizeHint().height();
}

void DependencyWarningView::showDetails(bool shown, bool animated)
{
    if (shown == m_isShowingDetails)
        return;
    m_isShowingDetails = shown;
    m_animation->stop();
    if (!animated || s_animationDuration <= 0 || !isVisible()) {
        m_details->setMaximumHeight(QWIDGETSIZE_MAX);
        m_details->setVisible(shown);
        return;
    }
    const int from = m_details->isVisible() ? m_details->height() : 0;
    const int to = shown ? detailsHeight() : 0;
    m_details->setMaximumHeight(from);
    m_details->setVisible(true);
    m_animation->setDuration(s_animationDuration);
    m_animation->setEasingCurve(QEasingCurve::InOutQuad);
    m_animation->setStartValue(from);
    m_animation->setEndValue(to);
    m_animation->start();
}
