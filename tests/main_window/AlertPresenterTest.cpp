// The production alert: a window-modal message box that never blocks the caller, shows its texts
// as they are, and leaves a further choice to a click: Return and Escape both mean OK.
#include "ui/main_window/AlertPresenter.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QAbstractButton>
#include <QTest>

#include <gtest/gtest.h>

TEST(MessageBoxPresenter, ShowsTheTextsAsTheyAreAndOnlyAClickChoosesTheFurtherButton)
{
    QWidget owner;
    owner.show();
    const auto openBox = [&]() -> QMessageBox * { // the one visible box, or null
        QList<QMessageBox *> boxes;
        for (QMessageBox *box : owner.findChildren<QMessageBox *>())
            if (box->isVisible())
                boxes << box;
        return boxes.size() == 1 ? boxes.first() : nullptr;
    };
    MessageBoxPresenter presenter;
    QStringList ran;
    const QString message = "Mount failed: <b>ntfs-3g</b> & co";
    for (const Qt::Key key : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_unknown}) { // the last one clicks
        presenter.present(&owner, {"outcome", "エラーが発生したよ", message,
                                   {{"OK", Alert::Button::Role::Default, [&] { ran << "OK"; }},
                                    {"もう一度試す", Alert::Button::Role::Other, [&] { ran << "retry"; }}}});
        QMessageBox *box = openBox(); // returned at once
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(box->text(), "エラーが発生したよ");
        EXPECT_EQ(box->informativeText(), message);
        for (QLabel *label : box->findChildren<QLabel *>())
            EXPECT_TRUE(label->text() != message || label->textFormat() == Qt::PlainText);
        if (key != Qt::Key_unknown)
            QTest::keyClick(box, key);
        else
            for (QAbstractButton *button : box->buttons())
                if (button->text() == "もう一度試す")
                    QTest::mouseClick(button, Qt::LeftButton);
        QApplication::processEvents();
        EXPECT_EQ(openBox(), nullptr);
    }
    EXPECT_EQ(ran, QStringList({"OK", "OK", "retry"}));

    // Return never confirms a destructive choice: it cancels.
    presenter.present(&owner, {"confirm", "アンインストール", "?",
                               {{"アンインストールする", Alert::Button::Role::Destructive, [&] { ran << "uninstall"; }},
                                {"キャンセル", Alert::Button::Role::Cancel, [&] { ran << "cancel"; }}}});
    ASSERT_NE(openBox(), nullptr);
    QTest::keyClick(openBox(), Qt::Key_Return);
    QApplication::processEvents();
    EXPECT_EQ(ran.last(), "cancel");
}
