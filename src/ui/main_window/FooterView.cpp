#include "ui/main_window/FooterView.h"

#include "AppInfo.h"
#include "dependencies/DependencyChecker.h"
#include "ui/toolkit/ActivitySpinner.h"
#include "ui/toolkit/ElidedLabel.h"
#include "ui/toolkit/SymbolView.h"
#include "ui/toolkit/Symbols.h"
#include "ui/toolkit/ToolkitButton.h"

#include <QHBoxLayout>
#include <QStackedWidget>
#include <QTimer>

using Toolkit::NamedColor;
using Toolkit::TextStyle;

namespace {

// A row of a symbol (or nothing) and one line of caption text, pushed to the leading edge.
QWidget *statusRow(QWidget *parent, QWidget *lead, ElidedLabel *text, int spacing = -1)
{
    auto *part = new QWidget(parent);
    auto *row = new QHBoxLayout(part);
    row->setContentsMargins(0, 0, 0, 0);
    if (spacing >= 0)
        row->setSpacing(spacing);
    lead->setParent(part);
    text->setParent(part);
    text->setTextStyle(TextStyle::Caption);
    row->addWidget(lead, 0, Qt::AlignVCenter);
    row->addWidget(text, 1, Qt::AlignVCenter);
    return part;
}

} // namespace

FooterView::FooterView(DependencyChecker *checker, QWidget *parent)
    : Surface(parent)
    , m_checker(checker)
    , m_presenter(std::make_shared<MessageBoxPresenter>())
    , m_status(new QStackedWidget(this))
    , m_errorText(new ElidedLabel)
    , m_spinner(new ActivitySpinner)
    , m_progressText(new ElidedLabel)
    , m_securityText(new ElidedLabel(DependencyChecker::words(checker).securityNote))
    , m_uninstall(new ToolkitButton(ToolkitButton::Style::Link))
    , m_version(new TextLabel(QStringLiteral("v") + AppInfo::version(), this))
{
    setFill(ColorRef{NamedColor::WindowBackground, 0.5});
    auto *bar = new QHBoxLayout(this);
    bar->setContentsMargins(16, 8, 16, 8);

    const int symbolSide = Toolkit::symbolSize(Toolkit::font(TextStyle::Body));
    m_errorText->setTextColor(ColorRef{NamedColor::Red});
    m_errorPart = statusRow(m_status,
                            new SymbolView(QStringLiteral("exclamationmark.octagon.fill"), symbolSide,
                                           ColorRef{NamedColor::Red}),
                            m_errorText);
    m_progressText->setTextColor(ColorRef{NamedColor::Secondary});
    m_progressPart = statusRow(m_status, m_spinner, m_progressText, 8);
    m_securityText->setTextColor(ColorRef{NamedColor::Secondary});
    m_securityPart = statusRow(m_status,
                               new SymbolView(QStringLiteral("shield.checkered"), symbolSide,
                                              ColorRef{NamedColor::Green}),
                               m_securityText);
    m_status->addWidget(m_errorPart);
    m_status->addWidget(m_progressPart);
    m_status->addWidget(m_securityPart);
    m_status->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);

    // The uninstall command carries its own trailing space, which goes with it.
    auto *uninstallFrame = new QWidget(this);
    auto *uninstallLayout = new QHBoxLayout(uninstallFrame);
    uninstallLayout->setContentsMargins(0, 0, 8, 0);
    m_uninstall->setParent(uninstallFrame);
    m_uninstall->setLabelFont(TextStyle::Caption);
    m_uninstall->setLabelColor(ColorRef{NamedColor::Red});
    m_uninstall->setTitle(QStringLiteral("依存ツールのアンインストール"));
    uninstallLayout->addWidget(m_uninstall);
    connect(m_uninstall, &QAbstractButton::clicked, this, &FooterView::confirmUninstall);

    m_version->setTextStyle(TextStyle::Caption);
    m_version->setTextColor(ColorRef{NamedColor::Secondary, 0.5});

    bar->addWidget(m_status, 1, Qt::AlignVCenter);
    bar->addWidget(uninstallFrame, 0, Qt::AlignVCenter);
    bar->addWidget(m_version, 0, Qt::AlignVCenter);

    if (m_checker) {
        connect(m_checker, &DependencyChecker::statusChanged, this, &FooterView::refresh);
        connect(m_checker, &DependencyChecker::isInstallingChanged, this, &FooterView::refresh);
        connect(m_checker, &DependencyChecker::isUninstallingChanged, this, &FooterView::refresh);
        connect(m_checker, &DependencyChecker::installProgressMessageChanged, this, &FooterView::refresh);
    }
    refresh();
}

void FooterView::setLastError(const std::optional<QString> &lastError)
{
    m_lastError = lastError;
    refresh();
}

void FooterView::setAlertPresenter(std::shared_ptr<AlertPresenter> presenter)
{
    m_presenter = std::move(presenter);
}

FooterView::StatusPart FooterView::statusPart() const
{
    if (m_lastError)
        return StatusPart::Error;
    if (m_checker && m_checker->isUninstalling())
        return StatusPart::Uninstalling;
    return StatusPart::SecurityNote;
}

void FooterView::refresh()
{
    switch (statusPart()) {
    case StatusPart::Error:
        m_errorText->setText(*m_lastError);
        m_status->setCurrentWidget(m_errorPart);
        break;
    case StatusPart::Uninstalling:
        m_status->setCurrentWidget(m_progressPart);
        break;
    case StatusPart::SecurityNote:
        m_status->setCurrentWidget(m_securityPart);
        break;
    }
    m_progressText->setText(m_checker ? m_checker->installProgressMessage() : QString());

    // The package manager alone is nothing to uninstall here. A running setup keeps the command, greyed out:
    // the two never run at once.
    bool offered = false;
    if (m_checker) {
        const DependencyStatus status = m_checker->status();
        offered = !m_checker->isUninstalling() && (status.isFuseTInstalled || status.ntfs3gPath.has_value());
    }
    m_uninstall->parentWidget()->setVisible(offered);
    m_uninstall->setEnabled(!m_checker || !m_checker->isInstalling());
}

void FooterView::confirmUninstall()
{
    m_showUninstallAlert = true;
    QPointer<FooterView> self(this);
    Alert alert;
    alert.identifier = QStringLiteral("uninstall-confirmation");
    alert.title = QStringLiteral("依存ツールをアンインストールする？");
    alert.message = DependencyChecker::words(m_checker).uninstallConfirmation;
    alert.buttons = {
        {QStringLiteral("アンインストールする"), Alert::Button::Role::Destructive,
         [self] {
             if (!self)
                 return;
             self->m_showUninstallAlert = false;
             if (DependencyChecker *checker = self->m_checker) {
                 // Started from the event loop; nothing waits for it here.
                 QTimer::singleShot(0, checker, [checker] { checker->uninstallDependencies(); });
             }
         }},
        {QStringLiteral("キャンセル"), Alert::Button::Role::Cancel,
         [self] {
             if (self)
                 self->m_showUninstallAlert = false;
         }},
    };
    m_presenter->present(this, alert);
}
