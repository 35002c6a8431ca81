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
    , m_progressText(new ElidedLabel)
    , m_uninstall(new ToolkitButton(ToolkitButton::Style::Link))
{
    setFill(ColorRef{NamedColor::WindowBackground, 0.5});
    auto *bar = new QHBoxLayout(this);
    bar->setContentsMargins(16, 8, 16, 8);

    m_progressText->setTextColor(ColorRef{NamedColor::Secondary});
    m_progressPart = statusRow(m_status, new ActivitySpinner, m_progressText, 8);
    auto *securityText = new ElidedLabel(DependencyChecker::words(checker).securityNote);
    securityText->setTextColor(ColorRef{NamedColor::Secondary});
    m_securityPart = statusRow(m_status,
                               new SymbolView(QStringLiteral("shield.checkered"),
                                              Toolkit::symbolSize(Toolkit::font(TextStyle::Body)),
                                              ColorRef{NamedColor::Green}),
                               securityText);
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

    auto *version = new TextLabel(QStringLiteral("v") + AppInfo::version(), this);
    version->setTextStyle(TextStyle::Caption);
    version->setTextColor(ColorRef{NamedColor::Secondary, 0.5});

    bar->addWidget(m_status, 1, Qt::AlignVCenter);
    bar->addWidget(uninstallFrame, 0, Qt::AlignVCenter);
    bar->addWidget(version, 0, Qt::AlignVCenter);

    if (m_checker) {
        connect(m_checker, &DependencyChecker::statusChanged, this, &FooterView::refresh);
        connect(m_checker, &DependencyChecker::isInstallingChanged, this, &FooterView::refresh);
        connect(m_checker, &DependencyChecker::isUninstallingChanged, this, &FooterView::refresh);
        connect(m_checker, &DependencyChecker::installProgressMessageChanged, this, &FooterView::refresh);
    }
    refresh();
}

void FooterView::setAlertPresenter(std::shared_ptr<AlertPresenter> presenter)
{
    m_presenter = std::move(presenter);
}

void FooterView::refresh()
{
    const bool uninstalling = m_checker && m_checker->isUninstalling();
    m_status->setCurrentWidget(uninstalling ? m_progressPart : m_securityPart);
    m_progressText->setText(m_checker ? m_checker->installProgressMessage() : QString());

    // The package manager alone is nothing to uninstall here. A running setup keeps the command, greyed out:
    // the two never run at once.
    bool offered = false;
    if (m_checker) {
        const DependencyStatus status = m_checker->status();
        offered = !uninstalling && (status.isFuseTInstalled || status.ntfs3gPath.has_value());
    }
    m_uninstall->parentWidget()->setVisible(offered);
    m_uninstall->setEnabled(!m_checker || !m_checker->isInstalling());
}

void FooterView::confirmUninstall()
{
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
             if (DependencyChecker *checker = self->m_checker) {
                 // Started from the event loop; nothing waits for it here.
                 QTimer::singleShot(0, checker, [checker] { checker->uninstallDependencies(); });
             }
         }},
        {QStringLiteral("キャンセル"), Alert::Button::Role::Cancel, [] {}},
    };
    m_presenter->present(this, alert);
}
