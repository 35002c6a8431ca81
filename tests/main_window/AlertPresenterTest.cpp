// The production alert: a window-modal message box that never blocks the caller.
#include "ui/main_window/AlertPresenter.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace {

QList<QMessageBox *> openBoxes(const QWidget &owner)
{
    QList<QMessageBox *> boxes;
    for (QMessageBox *box : owner.findChildren<QMessageBox *>())
        if (box->isVisible())
            boxes << box;
    return boxes;
}

QPushButton *buttonLabelled(QMessageBox *box, const QString &text)
{
    for (QAbstractButton *button : box->buttons())
        if (button->text() == text)
            return qobject_cast<QPushButton *>(button);
    return nullptr;
}

} // namespace

TEST(MessageBoxPresenter, ShowsTitleAndMessageVerbatimAndRunsTheActionAfterClosing)
{
    QWidget owner;
    owner.show();
    MessageBoxPresenter presenter;
    int ran = 0;
    bool closedFirst = false;
    QMessageBox *box = nullptr;
    presenter.present(&owner, {"outcome", "エラーが発生したよ", "Mount failed: <b>ntfs-3g</b> & co", {{"OK", Alert::Button::Role::Default, [&] {
                                   ++ran;
                                   closedFirst = !box->isVisible();
                               }}}});
    // Returned at once, with the box open.
    ASSERT_EQ(openBoxes(owner).size(), 1);
    box = openBoxes(owner).first();
    EXPECT_EQ(box->windowModality(), Qt::WindowModal);
    EXPECT_EQ(box->text(), "エラーが発生したよ");
    EXPECT_EQ(box->informativeText(), "Mount failed: <b>ntfs-3g</b> & co");
    for (QLabel *label : box->findChildren<QLabel *>()) {
        if (label->text() == box->informativeText() || label->text() == box->text()) {
            EXPECT_EQ(label->textFormat(), Qt::PlainText) << label->objectName().toStdString();
        }
    }
    ASSERT_EQ(box->buttons().size(), 1);
    EXPECT_EQ(box->defaultButton(), buttonLabelled(box, "OK"));

    QTest::mouseClick(buttonLabelled(box, "OK"), Qt::LeftButton);
    QApplication::processEvents();
    EXPECT_EQ(ran, 1);
    EXPECT_TRUE(closedFirst);
    EXPECT_TRUE(openBoxes(owner).isEmpty());
}

TEST(MessageBoxPresenter, PresentingTheSameAlertAgainUpdatesTheOpenBox)
{
    QWidget owner;
    owner.show();
    MessageBoxPresenter presenter;
    QStringList ran;
    presenter.present(&owner, {"outcome", "first", "one", {{"OK", Alert::Button::Role::Default, [&] { ran << "first"; }}}});
    presenter.present(&owner, {"outcome", "second", "two", {{"OK", Alert::Button::Role::Default, [&] { ran << "second"; }}}});
    ASSERT_EQ(openBoxes(owner).size(), 1);
    QMessageBox *box = openBoxes(owner).first();
    EXPECT_EQ(box->text(), "second");
    EXPECT_EQ(box->informativeText(), "two");
    ASSERT_EQ(box->buttons().size(), 1);
    QTest::mouseClick(buttonLabelled(box, "OK"), Qt::LeftButton);
    QApplication::processEvents();
    EXPECT_EQ(ran, QStringList({"second"}));
}

TEST(MessageBoxPresenter, ReturnAndEscapeBothChooseTheCancelButtonOfAConfirmation)
{
    QWidget owner;
    owner.show();
    MessageBoxPresenter presenter;
    QStringList ran;
    presenter.present(&owner, {"confirm", "sure?", "really",
                               {{"アンインストールする", Alert::Button::Role::Destructive, [&] { ran << "destroy"; }},
                                {"キャンセル", Alert::Button::Role::Cancel, [&] { ran << "cancel"; }}}});
    ASSERT_EQ(openBoxes(owner).size(), 1);
    QMessageBox *box = openBoxes(owner).first();
    EXPECT_EQ(box->buttonRole(buttonLabelled(box, "アンインストールする")), QMessageBox::DestructiveRole);
    EXPECT_EQ(box->defaultButton(), buttonLabelled(box, "キャンセル"));
    QTest::keyClick(box, Qt::Key_Escape);
    QApplication::processEvents();
    EXPECT_EQ(ran, QStringList({"cancel"}));
}
