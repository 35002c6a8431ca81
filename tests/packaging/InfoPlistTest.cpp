// The macOS bundle's Info.plist, filled in from its template the way the bundle build does.
#include "disks/PropertyList.h"

#include <QFile>

#include <gtest/gtest.h>

TEST(MacBundle, InfoPlistIsFilledInAndKeepsTheMenuBarAppOutOfTheDock)
{
    QFile file(QStringLiteral(QUORVEL_TEST_INFO_PLIST));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << QUORVEL_TEST_INFO_PLIST;
    const QByteArray data = file.readAll();
    EXPECT_FALSE(data.contains("${")) << "a bundle key was left unreplaced";
    const PropertyList::ParseResult parsed = PropertyList::parse(data);
    ASSERT_TRUE(parsed.root) << parsed.error.toStdString();
    const QVariantMap info = parsed.root->toMap();
    EXPECT_EQ(PropertyList::text(info, QStringLiteral("CFBundleIdentifier")), QStringLiteral(QUORVEL_TEST_APP_ID));
    EXPECT_EQ(PropertyList::text(info, QStringLiteral("CFBundleShortVersionString")), QStringLiteral("1.0.0"));
    // A real boolean, or the Dock shows the application all the same.
    EXPECT_EQ(PropertyList::boolean(info, QStringLiteral("LSUIElement")), std::optional<bool>(true));
}
