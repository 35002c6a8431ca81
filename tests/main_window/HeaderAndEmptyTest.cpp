// The header's rescan button and the empty-state placeholder (label texts compared as sets).
#include "ui/main_window/EmptyDisksView.h"
#include "ui/main_window/HeaderView.h"

#include <QApplication>
#include <QTest>

#include <gtest/gtest.h>

namespace {

QStringList labelTexts(const QWidget &view)
{
    QStringList texts;
    for (const QLabel *label : view.findChildren<QLabel *>())
        if (label->isVisibleTo(&view) && !label->text().isEmpty())
            texts << label->text();
    texts.sort();
    return texts;
}

} // namespace

TEST(HeaderView, ScanningSwapsTheSymbolForASpinnerAndBlocksTheButton)
{
    HeaderView header;
    int refreshes = 0;
    header.setOnRefresh([&] { ++refreshes; });
    header.show();
    QStringList expected = {"Quorvel NTFS Mount", "NTFSドライブの読み書きマウントをサポートするよ", "再スキャン"};
    expected.sort();
    EXPECT_EQ(labelTexts(header), expected);

    ToolkitButton *button = header.refreshButton();
    header.setScanning(true);
    EXPECT_TRUE(button->spinner()->isVisible());
    EXPECT_TRUE(button->spinner()->isAnimating());
    EXPECT_EQ(button->text(), "再スキャン");
    EXPECT_FALSE(button->isEnabled());
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(refreshes, 0);

    header.setScanning(false);
    EXPECT_FALSE(button->spinner()->isVisible());
    EXPECT_EQ(button->symbolName(), "arrow.clockwise");
    EXPECT_TRUE(button->isEnabled());
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(refreshes, 1);
}

TEST(EmptyDisksView, RescanButtonCallsTheActionOnceAndLeavesThePlaceholderAsItWas)
{
    EmptyDisksView empty;
    int refreshes = 0;
    empty.setOnRefresh([&] { ++refreshes; });
    empty.show();
    QStringList texts = {"検出されたNTFSドライブはありません", "NTFSフォーマットの外付けディスクを接続してください。", "再検出"};
    texts.sort();
    EXPECT_EQ(labelTexts(empty), texts);
    EXPECT_EQ(empty.refreshButton()->style(), ToolkitButton::Style::Bordered);

    QTest::mouseClick(empty.refreshButton(), Qt::LeftButton);
    QApplication::processEvents();
    EXPECT_EQ(refreshes, 1);
    EXPECT_EQ(labelTexts(empty), texts);
    EXPECT_TRUE(empty.refreshButton()->isEnabled());
}
