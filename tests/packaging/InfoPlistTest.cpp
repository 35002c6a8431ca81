// The macOS bundle's Info.plist, filled in from its template the way the bundle build does.
#include "disks/PropertyList.h"

#include <QFile>
#include <QRegularExpression>

#include <gtest/gtest.h>

TEST(MacBundle, InfoPlistNamesTheApplication)
{
    QFile file(QStringLiteral(QUORVEL_TEST_INFO_PLIST));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << QUORVEL_TEST_INFO_PLIST;
    const QByteArray data = file.readAll();
    EXPECT_FALSE(data.contains("${")) << "a bundle key was left unreplaced";

    const PropertyList::ParseResult parsed = PropertyList::parse(data);
    ASSERT_TRUE(parsed.root) << parsed.error.toStdString();
    const QVariantMap info = parsed.root->toMap();
    const auto text = [&](const char *key) {
        return PropertyList::text(info, QString::fromLatin1(key)).value_or(QStringLiteral("<missing>")).toStdString();
    };

    EXPECT_EQ(text("CFBundleIdentifier"), QUORVEL_TEST_APP_ID);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^[A-Za-z0-9-]+(\\.[A-Za-z0-9-]+){2,}$"))
                    .match(QStringLiteral(QUORVEL_TEST_APP_ID))
                    .hasMatch())
        << "not a reverse-DNS identifier: " << QUORVEL_TEST_APP_ID;
    EXPECT_EQ(text("CFBundleName"), "Quorvel NTFS Mount");
    EXPECT_EQ(text("CFBundleExecutable"), "Quorvel NTFS Mount");
    EXPECT_EQ(text("CFBundleShortVersionString"), "1.0.0");
    EXPECT_EQ(text("CFBundlePackageType"), "APPL");
    EXPECT_EQ(text("CFBundleIconFile"), "quorvel-ntfs-mount.icns");
    // A menu-bar application: a real boolean, or the Dock shows it all the same.
    EXPECT_EQ(PropertyList::boolean(info, QStringLiteral("LSUIElement")), std::optional<bool>(true));
}
