#pragma once

// The disk model on real devices: a disk image on a loop device, with an NTFS partition for each
// label and an ext4 one after them. The model is the Linux profile's, with the real runner
// and the stand-ins under a scratch mount root, or the one on udisks2 where a test sets `bus`.
// Every mount, loop device and file of it goes again, also when the test fails.
#include "StandinHarness.h"
#include "disks/DiskManager.h"
#include "shell/HelperShell.h"
#include "support/TestSupport.h"

#include <QDir>

#include <algorithm>

#include <gtest/gtest.h>

using namespace standins::testing;
using testsupport::await;

inline const QString kNtfs3g = QStringLiteral("/usr/bin/ntfs-3g");

inline QStringList entriesOf(const QString &directory)
{
    return QDir(directory).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System, QDir::Name);
}

class DeviceFixture : public ::testing::Test {
protected:
    // An NTFS partition of `sizeMiB` for each label. The partition table is GPT: with udev
    // running, an MBR image's partition nodes were now and then missing right after the attach.
    DeviceFixture(std::vector<std::string> labels, int sizeMiB) : m_labels(std::move(labels)), m_size(sizeMiB) {}

    void SetUp() override
    {
        if (const QString why = testsupport::realDeviceSkipReason(); !why.isEmpty())
            GTEST_SKIP() << why.toStdString();
        dir = std::make_unique<TempDir>();
        scratch = QString::fromStdString(dir->path());
        mountRoot = scratch + "/media/";
        ASSERT_TRUE(QDir().mkpath(mountRoot));
        loop = attachDisk("disk.img", m_labels);
        manager = makeManager(testsupport::linuxProfile());
    }

    void TearDown() override
    {
        manager.reset();
        if (dir)
            removeWhere(under(dir->path())); // mounts go before anything below them is deleted
    }

    // The image under the scratch directory, on a loop device: "loopN".
    virtual std::string attachDisk(const std::string &image, const std::vector<std::string> &labels)
    {
        std::string table = "label: gpt\\n";
        for (std::size_t i = 0; i < labels.size(); ++i) // "Microsoft Basic Data"
            table += "," + std::to_string(m_size) + "M,EBD0A0A2-B9E5-4433-87C0-68B6B72699C7\\n";
        step("truncate -s " + std::to_string(m_size * labels.size() + 10) + "M " + *dir / image + " && printf '" + table
             + ",,L\\n' | sfdisk -q " + *dir / image);
        const std::string name = attachLoop(*dir / image, int(labels.size()) + 1);
        for (std::size_t i = 0; i < labels.size(); ++i)
            step("mkntfs -q -f -Q -L '" + labels[i] + "' /dev/" + name + "p" + std::to_string(i + 1));
        step("mkfs.ext4 -q /dev/" + name + "p" + std::to_string(labels.size() + 1));
        return name;
    }

    std::unique_ptr<DiskManager> makeManager(Platform profile) const
    {
        profile.mountRoot = mountRoot;
        profile.opener = QStringLiteral("/bin/true"); // no file browser in tests
        auto made = std::make_unique<DiskManager>(ModelEnvironment{
            profile, std::make_shared<HelperShell>(profile), std::make_shared<SystemFileProbe>(), bus});
        await(made->scanDisks());
        return made;
    }

    std::string device(int partition) const { return "/dev/" + loop + "p" + std::to_string(partition); }
    QString node(int partition) const { return QString::fromStdString(device(partition)).mid(5); }
    std::optional<NTFSDisk> find(const QString &deviceNode) const
    {
        const auto found = std::ranges::find(manager->disks(), deviceNode, &NTFSDisk::deviceNode);
        return found == manager->disks().end() ? std::nullopt : std::optional(*found);
    }
    NTFSDisk disk(int partition) const { return find(node(partition)).value_or(NTFSDisk{}); }

    // A read-write mount of `volume` that must fail: code 3 and ntfs-3g's words, `explanation` with
    // the read-only mount offered where there is one, and nothing left mounted or made. The
    // read-only mount offered then comes up read-only, and goes again. Not a byte of the volume
    // changes on the way.
    void expectRefused(const NTFSDisk &volume, const QString &explanation)
    {
        const std::string checksum = "sha256sum < /dev/" + volume.deviceNode.toStdString(), before = sh(checksum).standardOutput;
        const auto error = await(manager->mountReadWrite(volume, kNtfs3g));
        ASSERT_TRUE(error);
        EXPECT_EQ(error->code, DiskError::MountFailed);
        EXPECT_TRUE(error->description.startsWith("Mount failed: ") && error->description.size() > 14)
            << error->description.toStdString();
        EXPECT_EQ(error->explanation, explanation);
        EXPECT_EQ(error->remedy, explanation.isEmpty() ? DiskError::Remedy::None : DiskError::Remedy::MountReadOnly);
        EXPECT_FALSE(find(volume.deviceNode).value_or(NTFSDisk{}).mountPoint);
        EXPECT_EQ(mountPointsOf("/dev/" + volume.deviceNode.toStdString()), std::vector<std::string>());
        EXPECT_EQ(entriesOf(mountRoot), QStringList());
        if (!explanation.isEmpty()) {
            ASSERT_EQ(await(manager->mountReadOnly(find(volume.deviceNode).value(), kNtfs3g)), std::nullopt);
            const NTFSDisk mounted = find(volume.deviceNode).value();
            ASSERT_TRUE(mounted.mountPoint);
            EXPECT_FALSE(mounted.isWritable);
            EXPECT_FALSE(QFileInfo(*mounted.mountPoint).isWritable());
            ASSERT_EQ(await(manager->unmount(mounted)), std::nullopt);
        }
        EXPECT_EQ(sh(checksum).standardOutput, before) << "the volume was written to";
    }

    // A hibernation file with its signature on `device`, as a hibernated Windows leaves it:
    // ntfs-3g then mounts only read-only.
    void hibernate(const std::string &device) const
    {
        const std::string raw = *dir / "raw";
        step("mkdir -p " + raw + " && ntfs-3g " + device + " " + raw + " && { printf HIBR; head -c 4092 "
             "/dev/zero; } > " + raw + "/hiberfil.sys && umount " + raw);
    }

    std::unique_ptr<TempDir> dir;
    QString scratch, mountRoot;
    std::string loop; // "loopN"
    std::unique_ptr<DiskManager> manager;
    std::optional<QDBusConnection> bus; // the udisks2 stack's, for the model on udisks2

private:
    std::vector<std::string> m_labels;
    int m_size;
};
