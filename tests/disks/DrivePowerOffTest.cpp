// When an unmount powers the drive off, as a file manager's safe removal does: read from udisks2's
// object tree as its signals build it.
#include "disks/udisks2/UDisks2Objects.h"

#include <QDBusMessage>

#include <gtest/gtest.h>

namespace {

using Interfaces = QMap<QString, QVariantMap>;

void add(UDisks2::ObjectTree &tree, const QString &path, const Interfaces &interfaces)
{
    QDBusMessage signal = QDBusMessage::createSignal(UDisks2::kManagerPath, UDisks2::kObjectManager,
                                                     QStringLiteral("InterfacesAdded"));
    signal.setArguments({QVariant::fromValue(QDBusObjectPath(path)), QVariant::fromValue(interfaces)});
    tree.interfacesAdded(signal);
}

void addDrive(UDisks2::ObjectTree &tree, const QString &name, bool removable, const QString &sibling = {})
{
    add(tree, "/org/freedesktop/UDisks2/drives/" + name,
        {{UDisks2::kDrive, {{"Removable", removable}, {"CanPowerOff", true}, {"SiblingId", sibling}}}});
}

void addPartition(UDisks2::ObjectTree &tree, const QString &node, const QString &drive, const QStringList &mounts = {})
{
    QByteArrayList points;
    for (const QString &mount : mounts)
        points << mount.toUtf8() + '\0';
    add(tree, "/org/freedesktop/UDisks2/block_devices/" + node,
        {{UDisks2::kBlock, {{"Device", QByteArray("/dev/" + node.toUtf8() + '\0')},
                            {"Drive", QVariant::fromValue(QDBusObjectPath("/org/freedesktop/UDisks2/drives/" + drive))}}},
         {UDisks2::kFilesystem, {{"MountPoints", QVariant::fromValue(points)}}}});
}

std::optional<QString> after(const UDisks2::ObjectTree &tree, const QString &node)
{
    return tree.driveToPowerOff("/org/freedesktop/UDisks2/block_devices/" + node);
}

} // namespace

// Removable and alone: off. Another partition of it, or of a sibling drive, still mounted: on. A
// fixed disk: on.
TEST(DrivePowerOff, OnlyARemovableDriveWithNothingElseMountedGoesOff)
{
    UDisks2::ObjectTree tree;
    addDrive(tree, "Stick", true);
    addPartition(tree, "sdb1", "Stick");
    addPartition(tree, "sdb2", "Stick");
    EXPECT_EQ(after(tree, "sdb1"), "/org/freedesktop/UDisks2/drives/Stick");

    addPartition(tree, "sdb2", "Stick", {"/media/u/Other"});
    EXPECT_EQ(after(tree, "sdb1"), std::nullopt);

    addDrive(tree, "ReaderA", true, "reader");
    addDrive(tree, "ReaderB", true, "reader");
    addPartition(tree, "sdc1", "ReaderA");
    addPartition(tree, "sdd1", "ReaderB", {"/media/u/Card"});
    EXPECT_EQ(after(tree, "sdc1"), std::nullopt);

    addDrive(tree, "Internal", false);
    addPartition(tree, "sda3", "Internal");
    EXPECT_EQ(after(tree, "sda3"), std::nullopt);
}
