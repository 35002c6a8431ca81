// The tray label: the drive symbol alone, or with the number of writable disks on it.
#include "app/StatusLabel.h"
#include "app/Toolkit.h"

#include <gtest/gtest.h>

namespace {

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
