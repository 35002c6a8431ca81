// The disk card: state colours and labels, which control shows, its width and whether it works.
#include "ui/main_window/DiskRowView.h"

#include "support/TestSupport.h"

#include <QApplication>
#include <QTest>

#include <gtest/gtest.h>

using Toolkit::NamedColor;

namespace {

const NTFSDisk kWritable{"disk4s1", "Data", 1000204886016, QString("/Volumes/Data"), true, "ntfs"};
const NTFSDisk kReadOnly{"disk5s2", "Win", 63813500928, QString("/Volumes/Win"), false, "ntfs"};
const NTFSDisk kNotMounted{"disk6", "Stick", 32017047552, std::nullopt, false, "ntfs"};

struct RowFixture : ::testing::Test {
    DiskRowView row;
    int mounts = 0;
    int unmounts = 0;

    void SetUp() override
    {
        row.setOnMount([this] { ++mounts; });
        row.setOnUnmount([this] { ++unmounts; });
        row.resize(518, 80);
        row.show();
    }
    void show(const NTFSDisk &disk, bool operating, bool depsInstalled)
    {
        row.setDisk(disk);
        row.setOperating(operating);
        row.setAllDepsInstalled(depsInstalled);
        QApplication::processEvents();
    }
    // The one trailing control that is visible, or null when there is none or several.
    QWidget *visibleControl() const
    {
        QList<QWidget *> shown;
        for (QWidget *control : {static_cast<QWidget *>(row.spinnerFrame()), static_cast<QWidget *>(row.unmountButton()),
                                 static_cast<QWidget *>(row.mountButton())})
            if (control->isVisible())
                shown << control;
        return shown.size() == 1 ? shown.first() : nullptr;
    }
};

QColor named(NamedColor name) { return Toolkit::color(name); }

} // namespace

TEST_F(RowFixture, EachMountStateHasItsColoursLabelAndControl)
{
    struct Case {
        NTFSDisk disk;
        NamedColor icon, dot, label;
        QString text;
        ToolkitButton *control;
    };
    const Case cases[] = {
        {kWritable, NamedColor::Green, NamedColor::Green, NamedColor::Green, "読み書き可能 (FUSE)", row.unmountButton()},
        {kReadOnly, NamedColor::Blue, NamedColor::Blue, NamedColor::Blue, "読み取り専用 (OS標準)", row.mountButton()},
        {kNotMounted, NamedColor::Secondary, NamedColor::Gray, NamedColor::Secondary, "未マウント", row.mountButton()},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.disk.deviceNode.toStdString());
        show(c.disk, false, true);
        EXPECT_EQ(row.driveIcon()->iconColor().resolve(), named(c.icon));
        EXPECT_EQ(row.driveIcon()->dotColor().resolve(), named(c.dot));
        EXPECT_EQ(row.stateLabel()->text(), c.text);
        EXPECT_EQ(row.stateLabel()->resolvedTextColor(), named(c.label));
        EXPECT_EQ(visibleControl(), c.control);
        EXPECT_TRUE(c.control->isEnabled());
    }
    EXPECT_EQ(row.unmountButton()->text(), "アンマウント");
    EXPECT_EQ(row.mountButton()->text(), "読み書きマウント");
    EXPECT_EQ(row.mountButton()->symbolName(), "pencil.and.outline");

    // A writable record counts as writable even without a mount point.
    NTFSDisk writableWithoutMount = kWritable;
    writableWithoutMount.mountPoint.reset();
    show(writableWithoutMount, false, true);
    EXPECT_EQ(row.stateLabel()->text(), "読み書き可能 (FUSE)");
    EXPECT_EQ(visibleControl(), row.unmountButton());
}

TEST_F(RowFixture, MissingPrerequisitesDisableMountButNotUnmount)
{
    show(kReadOnly, false, false);
    ASSERT_EQ(visibleControl(), row.mountButton());
    EXPECT_FALSE(row.mountButton()->isEnabled());
    QTest::mouseClick(row.mountButton(), Qt::LeftButton);
    EXPECT_EQ(mounts, 0);

    show(kWritable, false, false);
    ASSERT_EQ(visibleControl(), row.unmountButton());
    EXPECT_TRUE(row.unmountButton()->isEnabled());
    QTest::mouseClick(row.unmountButton(), Qt::LeftButton);
    EXPECT_EQ(unmounts, 1);

    show(kNotMounted, false, true);
    QTest::mouseClick(row.mountButton(), Qt::LeftButton);
    EXPECT_EQ(mounts, 1);
    EXPECT_EQ(unmounts, 1);
}

TEST_F(RowFixture, OperatingShowsOnlyATurningSpinnerInTheUnmountButtonsWidth)
{
    for (const NTFSDisk &disk : {kWritable, kReadOnly, kNotMounted}) {
        SCOPED_TRACE(disk.deviceNode.toStdString());
        show(disk, true, true);
        EXPECT_EQ(visibleControl(), row.spinnerFrame());
        EXPECT_TRUE(row.spinner()->isAnimating());
        EXPECT_EQ(row.spinnerFrame()->width(), 120);
    }
    show(kWritable, false, true);
    EXPECT_FALSE(row.spinner()->isAnimating());
    EXPECT_EQ(row.unmountButton()->width(), 120);
    show(kReadOnly, false, true);
    EXPECT_EQ(row.mountButton()->width(), 140);
}

TEST_F(RowFixture, NameBadgeAndSizeShowTheRecordAndALongNameIsCutBeforeTheControl)
{
    show(kReadOnly, false, true);
    EXPECT_EQ(row.nameLabel()->text(), "Win");
    EXPECT_EQ(row.badgeLabel()->text(), "disk5s2");
    EXPECT_EQ(row.sizeLabel()->text(), kReadOnly.formattedSize());
    EXPECT_FALSE(row.nameLabel()->isElided());

    NTFSDisk longName = kReadOnly;
    longName.volumeName = QString("とても長いボリューム名").repeated(8);
    show(longName, false, true);
    EXPECT_TRUE(row.nameLabel()->isElided());
    EXPECT_TRUE(row.nameLabel()->displayedText().endsWith(QStringLiteral("…")));
    // The badge and the button stay whole and inside the card.
    EXPECT_EQ(row.badgeLabel()->width(), row.badgeLabel()->sizeHint().width());
    EXPECT_LE(row.mountButton()->geometry().right(), row.width() - 12);
    EXPECT_GE(row.mountButton()->geometry().left(), row.badgeLabel()->geometry().right());
}

TEST_F(RowFixture, ColoursFollowAPaletteChange)
{
    show(kNotMounted, false, true);
    const QPalette light = QApplication::palette();
    QPalette dark = light;
    dark.setColor(QPalette::Window, QColor(0x1e, 0x1e, 0x1e));
    dark.setColor(QPalette::WindowText, QColor(0xee, 0xee, 0xee));
    dark.setColor(QPalette::Base, QColor(0x2a, 0x2a, 0x2a));
    QApplication::setPalette(dark);
    QApplication::processEvents();
    EXPECT_EQ(row.stateLabel()->resolvedTextColor(), Toolkit::color(NamedColor::Secondary));
    EXPECT_EQ(row.sizeLabel()->resolvedTextColor(), Toolkit::color(NamedColor::Secondary));
    QApplication::setPalette(light);
    QApplication::processEvents();
    EXPECT_EQ(row.stateLabel()->resolvedTextColor(), Toolkit::color(NamedColor::Secondary));
}
