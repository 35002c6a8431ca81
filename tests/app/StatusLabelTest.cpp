// The tray label: the drive symbol alone, or with the number of writable disks on it.
#include "app/StatusLabel.h"
#include "app/Toolkit.h"

#include <gtest/gtest.h>

namespace {

NTFSDisk disk(const QString &node, bool writable)
{
    return {node, node, 1000, QString("/Volumes/" + node), writable, "ntfs"};
}

// Pixels close to the badge's blue.
int badgePixels(const QImage &image)
{
    const QColor blue = Toolkit::color(Toolkit::NamedColor::Blue);
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            count += c.alpha() == 255 && std::abs(c.red() - blue.red()) < 8 && std::abs(c.green() - blue.green()) < 8
                && std::abs(c.blue() - blue.blue()) < 8;
        }
    return count;
}

} // namespace

TEST(StatusLabel, CountsWritableDisksOnly)
{
    EXPECT_EQ(StatusLabel::forDisks({}).writableCount, 0);
    EXPECT_EQ(StatusLabel::forDisks({disk("disk2s1", false), disk("disk3s1", false)}).writableCount, 0);
    const QList<NTFSDisk> five = {disk("disk2s1", true), disk("disk3s1", false), disk("disk4s1", true),
                                  disk("disk5s1", false), disk("disk6s1", true)};
    EXPECT_EQ(StatusLabel::forDisks(five).writableCount, 3);
    EXPECT_EQ(StatusLabel::forDisks(five).countText(), "3");
    EXPECT_EQ(StatusLabel::forDisks(five).toolTip(), "Quorvel NTFS Mount  3");
    EXPECT_EQ(StatusLabel::forDisks({}).countText(), "");
    EXPECT_EQ(StatusLabel::forDisks({}).toolTip(), "Quorvel NTFS Mount");
    EXPECT_EQ(StatusLabel().symbolName, "opticaldiscdrive");
}

TEST(StatusLabel, TheIconIsTheDriveAloneOrTheDriveWithTheNumber)
{
    StatusLabel none;
    const QImage bare = none.icon().pixmap(22).toImage();
    EXPECT_EQ(bare, Toolkit::symbol("opticaldiscdrive").pixmap(22).toImage());
    EXPECT_EQ(badgePixels(bare), 0);

    QList<QImage> counted;
    for (int count : {1, 3, 12}) {
        StatusLabel label;
        label.writableCount = count;
        for (int size : {16, 22, 32}) {
            const QImage image = label.icon().pixmap(size).toImage();
            ASSERT_EQ(image.width(), size);
            EXPECT_GT(badgePixels(image), size * size / 20) << count << " at " << size;
        }
        counted << label.icon().pixmap(22).toImage();
    }
    // The number itself is drawn: each count looks different.
    EXPECT_NE(counted[0], counted[1]);
    EXPECT_NE(counted[1], counted[2]);
}
