#include "ui/main_window/AlertPresenter.h"

#include "ui/toolkit/Style.h"

#include <QAbstractButton>
#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

#include <algorithm>

namespace {

const char kButtonIndex[] = "quorvelAlertButton";
const char kSessionName[] = "quorvelAlertSession";

// Messages wrap at about this width.
constexpr int kMessageWidth = 400;

// The alert an open box stands for; replaced when the alert is presented again.
class AlertSession : public QObject {
public:
    using QObject::QObject;
    Alert alert;
};

QMessageBox::ButtonRole boxRole(Alert::Button::Role role)
{
    switch (role) {
    case Alert::Button::Role::Destructive: return QMessageBox::DestructiveRole;
    case Alert::Button::Role::Cancel: return QMessageBox::RejectRole;
    case Alert::Button::Role::Other: return QMessageBox::ActionRole;
    case Alert::Button::Role::Default: break;
    }
    return QMessageBox::AcceptRole;
}

void fill(QMessageBox *box, AlertSession *session, const Alert &alert)
{
    session->alert = alert;
    const QString appName = QGuiApplication::applicationDisplayName();
    box->setWindowTitle(appName.isEmpty() ? alert.title : appName);
    box->setText(alert.title);
    box->setInformativeText(alert.message);
    // The message label is made on first use and would guess markup otherwise; it is also
    // wrapped rather narrowly by default.
    if (auto *messageLabel = box->findChild<QLabel *>(QStringLiteral("qt_msgbox_informativelabel"))) {
        messageLabel->setTextFormat(Qt::PlainText);
        messageLabel->setFont(Toolkit::font(Toolkit::TextStyle::Body));
        // As wide as its widest line, up to the limit, with a character's room to spare: the
        // label's own layout of Japanese text in a fallback font comes out a little wider.
        const QFontMetrics metrics = messageLabel->fontMetrics();
        int natural = 0;
        for (const QString &line : alert.message.split(QLatin1Char('\n')))
            natural = std::max(natural, metrics.horizontalAdvance(line));
        messageLabel->setMinimumWidth(std::min(natural + metrics.horizontalAdvance(QChar(0x3042)), kMessageWidth));
    }

    for (QAbstractButton *old : box->buttons()) {
        box->removeButton(old);
        old->deleteLater();
    }
    QPushButton *cancel = nullptr;
    QPushButton *byDefault = nullptr;
    for (int i = 0; i < alert.buttons.size(); ++i) {
        const Alert::Button &wanted = alert.buttons.at(i);
        QPushButton *button = box->addButton(wanted.text, boxRole(wanted.role));
        button->setProperty(kButtonIndex, i);
        if (wanted.role == Alert::Button::Role::Destructive) {
            QPalette palette = button->palette();
            palette.setColor(QPalette::ButtonText, Toolkit::color(Toolkit::NamedColor::Red));
            button->setPalette(palette);
        }
        if (wanted.role == Alert::Button::Role::Default) {
            box->setDefaultButton(button);
            byDefault = button;
        }
        if (wanted.role == Alert::Button::Role::Cancel) {
            box->setEscapeButton(button);
            cancel = button;
        }
    }
    // Return never confirms a destructive choice by itself.
    if (!byDefault && cancel)
        box->setDefaultButton(cancel);
    // Without a cancel button Escape dismisses the alert as its default does, never with another choice.
    if (!cancel && byDefault)
        box->setEscapeButton(byDefault);
}

} // namespace

void MessageBoxPresenter::present(QWidget *owner, const Alert &alert)
{
    const QString name = QStringLiteral("alert:") + alert.identifier;
    QMessageBox *box = nullptr;
    for (QMessageBox *open : owner->findChildren<QMessageBox *>(name, Qt::FindDirectChildrenOnly))
        if (open->isVisible())
            box = open;

    if (box) {
        // (AlertSession has no meta-object of its own, so it is found by name.)
        auto *session = static_cast<AlertSession *>(
            box->findChild<QObject *>(QLatin1String(kSessionName), Qt::FindDirectChildrenOnly));
        fill(box, session, alert);
        return;
    }

    box = new QMessageBox(owner);
    box->setObjectName(name);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setIcon(QMessageBox::NoIcon);
    // Titles and messages are shown verbatim, never as markup.
    box->setTextFormat(Qt::PlainText);
    if (auto *titleLabel = box->findChild<QLabel *>(QStringLiteral("qt_msgbox_label")))
        titleLabel->setFont(Toolkit::font(Toolkit::TextStyle::Headline, Toolkit::Weight::Bold));
    auto *session = new AlertSession(box);
    session->setObjectName(QLatin1String(kSessionName));
    fill(box, session, alert);

    QObject::connect(box, &QMessageBox::finished, box, [box, session] {
        QAbstractButton *clicked = box->clickedButton();
        if (!clicked)
            return;
        bool ok = false;
        const int index = clicked->property(kButtonIndex).toInt(&ok);
        if (!ok || index < 0 || index >= session->alert.buttons.size())
            return;
        // A copy: the action may present the next alert and replace the session's.
        const std::function<void()> action = session->alert.buttons.at(index).action;
        if (action)
            action();
    });
    box->open();
}
