// The tray label: the drive symbol alone, or with the number of writable disks on it.
#include "ui/menu_bar/StatusLabel.h"
#include "ui/toolkit/Style.h"
#include "ui/toolkit/Symbols.h"

#include <gtest/gtest.h>

namespace {

// Opaque pixels close to the badge's blue.
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
    QList<QImage> drawn;
    for (int count : {0, 1, 3, 12}) {
        StatusLabel label;
        label.writableCount = count;
        for (int size : {16, 22, 32}) {
            const QImage image = label.icon().pixmap(size).toImage();
            ASSERT_EQ(image.width(), size);
            EXPECT_EQ(badgePixels(image) > size * size / 20, count > 0) << count << " at " << size;
        }
        drawn << label.icon().pixmap(22).toImage();
    }
    EXPECT_EQ(drawn[0], Toolkit::symbol("opticaldiscdrive").pixmap(22).toImage());
    // The number itself is drawn: each count looks different.
    EXPECT_NE(drawn[1], drawn[2]);
    EXPECT_NE(drawn[2], drawn[3]);
}
