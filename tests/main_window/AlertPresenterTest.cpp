// The production alert: a window-modal message box that never blocks the caller.
#include "ui/main_window/AlertPresenter.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace {

// The one visible message box over `owner`, or null when there is none or several.
QMessageBox *openBox(const QWidget &owner)
{
    QList<QMessageBox *> boxes;
    for (QMessageBox *box : owner.findChildren<QMessageBox *>())
        if (box->isVisible())
            boxes << box;
    return boxes.size() == 1 ? boxes.first() : nullptr;
}

QPushButton *labelled(QMessageBox *box, const QString &text)
{
    for (QAbstractButton *button : box->buttons())
        if (button->text() == text)
            return qobject_cast<QPushButton *>(button);
    return nullptr;
}

} // namespace

TEST(MessageBoxPresenter, ShowsPlainTextReplacesTheOpenBoxAndRunsTheActionOnceClosed)
{
    using Role = Alert::Button::Role;
    QWidget owner;
    owner.show();
    MessageBoxPresenter presenter;
    QMessageBox *box = nullptr;
    QStringList ran;
    auto button = [&](const QString &text, Role role) {
        return Alert::Button{text, role, [&ran, &box, text] {
                                 ran << text + (box->isVisible() ? " open" : " closed");
                             }};
    };
    presenter.present(&owner, {"outcome", "first", "one", {button("first", Role::Default)}});
    presenter.present(&owner,
                      {"outcome", "エラーが発生したよ", "Mount failed: <b>ntfs-3g</b> & co", {button("OK", Role::Default)}});
    // Returned at once: one box, showing the second alert verbatim.
    box = openBox(owner);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->windowModality(), Qt::WindowModal);
    EXPECT_EQ(box->text(), "エラーが発生したよ");
    EXPECT_EQ(box->informativeText(), "Mount failed: <b>ntfs-3g</b> & co");
    for (QLabel *label : box->findChildren<QLabel *>()) {
        if (label->text() == box->informativeText() || label->text() == box->text()) {
            EXPECT_EQ(label->textFormat(), Qt::PlainText) << label->objectName().toStdString();
        }
    }
    ASSERT_EQ(box->buttons().size(), 1);
    EXPECT_EQ(box->defaultButton(), labelled(box, "OK"));
    QTest::mouseClick(labelled(box, "OK"), Qt::LeftButton);
    QApplication::processEvents();
    EXPECT_EQ(openBox(owner), nullptr);

    // A confirmation defaults to its cancel button, and Escape chooses it.
    presenter.present(&owner, {"confirm", "sure?", "really",
                               {button("アンインストールする", Role::Destructive), button("キャンセル", Role::Cancel)}});
    box = openBox(owner);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->buttonRole(labelled(box, "アンインストールする")), QMessageBox::DestructiveRole);
    EXPECT_EQ(box->defaultButton(), labelled(box, "キャンセル"));
    QTest::keyClick(box, Qt::Key_Escape);
    QApplication::processEvents();

    // A further choice answers neither Return nor Escape: both leave it for OK.
    for (const Qt::Key key : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_unknown}) { // the last one clicks
        presenter.present(&owner, {"outcome", "t", "m", {button("OK", Role::Default), button("もう一度試す", Role::Other)}});
        box = openBox(owner);
        ASSERT_NE(box, nullptr);
        if (key != Qt::Key_unknown)
            QTest::keyClick(box, key);
        else
            QTest::mouseClick(labelled(box, "もう一度試す"), Qt::LeftButton);
        QApplication::processEvents();
    }
    EXPECT_EQ(ran, QStringList({"OK closed", "キャンセル closed", "OK closed", "OK closed", "もう一度試す closed"}));
}
