// The disk card: each mount state's colours, label and control, when the control works, and the
// spinner that replaces it.
#include "ui/main_window/DiskRowView.h"

#include "ui/toolkit/ActivitySpinner.h"
#include "ui/toolkit/ToolkitButton.h"

#include <QApplication>
#include <QTest>

#include <gtest/gtest.h>

using Toolkit::NamedColor;

namespace {

const NTFSDisk kWritable{"disk4s1", "Data", 1000204886016, QString("/Volumes/Data"), true, "ntfs"};
const NTFSDisk kReadOnly{"disk5s2", "Win", 63813500928, QString("/Volumes/Win"), false, "ntfs"};
const NTFSDisk kNotMounted{"disk6", "Stick", 32017047552, std::nullopt, false, "ntfs"};

} // namespace

TEST(DiskRowView, EachMountStateHasItsColoursLabelAndControlAndOnlyMountNeedsThePrerequisites)
{
    DiskRowView row;
    int mounts = 0, unmounts = 0;
    row.setOnMount([&] { ++mounts; });
    row.setOnUnmount([&] { ++unmounts; });
    row.resize(518, 80);
    row.show();
    // The one trailing control that is visible, or null when there is none or several.
    auto visibleControl = [&]() -> QWidget * {
        QList<QWidget *> shown;
        for (QWidget *control : std::initializer_list<QWidget *>{row.spinnerFrame(), row.unmountButton(), row.mountButton()})
            if (control->isVisible())
                shown << control;
        return shown.size() == 1 ? shown.first() : nullptr;
    };
    NTFSDisk writableWithoutMount = kWritable; // writable wins over a missing mount point
    writableWithoutMount.mountPoint.reset();
    using enum NamedColor;
    struct Case {
        NTFSDisk disk;
        NamedColor icon, dot, label;
        QString text;
        ToolkitButton *control;
    };
    const Case cases[] = {
        {kWritable, Green, Green, Green, "読み書き可能 (FUSE)", row.unmountButton()},
        {writableWithoutMount, Green, Green, Green, "読み書き可能 (FUSE)", row.unmountButton()},
        {kReadOnly, Blue, Blue, Blue, "読み取り専用 (OS標準)", row.mountButton()},
        {kNotMounted, Secondary, Gray, Secondary, "未マウント", row.mountButton()},
    };
    QPalette dark = QApplication::palette();
    dark.setColor(QPalette::Window, QColor(0x1e, 0x1e, 0x1e));
    dark.setColor(QPalette::WindowText, QColor(0xee, 0xee, 0xee));
    for (const Case &c : cases) {
        SCOPED_TRACE(c.disk.volumeName.toStdString() + " " + c.text.toStdString());
        const bool isMount = c.control == row.mountButton();
        for (bool deps : {true, false}) {
            row.setDisk(c.disk);
            row.setOperating(false);
            row.setAllDepsInstalled(deps);
            QApplication::processEvents();
            EXPECT_EQ(row.nameLabel()->text(), c.disk.volumeName);
            EXPECT_EQ(row.badgeLabel()->text(), c.disk.deviceNode);
            EXPECT_EQ(row.sizeLabel()->text(), c.disk.formattedSize());
            EXPECT_EQ(row.stateLabel()->text(), c.text);
            EXPECT_EQ(visibleControl(), c.control);
            EXPECT_EQ(c.control->isEnabled(), deps || !isMount);
            const int before = isMount ? mounts : unmounts;
            QTest::mouseClick(c.control, Qt::LeftButton);
            EXPECT_EQ(isMount ? mounts : unmounts, before + (deps || !isMount ? 1 : 0));
        }
        // The colours, on the light palette and again after a switch to a dark one.
        const QPalette light = QApplication::palette();
        for (const QPalette &palette : {light, dark}) {
            QApplication::setPalette(palette);
            QApplication::processEvents();
            EXPECT_EQ(row.driveIcon()->iconColor().resolve(), Toolkit::color(c.icon));
            EXPECT_EQ(row.driveIcon()->dotColor().resolve(), Toolkit::color(c.dot));
            EXPECT_EQ(row.stateLabel()->resolvedTextColor(), Toolkit::color(c.label));
        }
        QApplication::setPalette(light);

        // While an operation runs, only a turning spinner shows.
        row.setOperating(true);
        EXPECT_EQ(visibleControl(), row.spinnerFrame());
        EXPECT_TRUE(row.spinner()->isAnimating());
        row.setOperating(false);
        EXPECT_FALSE(row.spinner()->isAnimating());
    }
}
