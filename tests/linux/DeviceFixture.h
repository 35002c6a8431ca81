#pragma once

// The disk model on the Linux profile with the real runner and the stand-ins, on an MBR disk image
// of NTFS partitions on a loop device, under a scratch mount root. Every mount, loop device and
// file of it goes again, also when the test fails.
#include "StandinHarness.h"
#include "disks/DiskManager.h"
#include "shell/HelperShell.h"
#include "support/TestSupport.h"

#include <QDir>

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
    // An NTFS partition of `sizeMiB` for each label.
    DeviceFixture(std::vector<std::string> labels, int sizeMiB) : m_labels(std::move(labels)), m_size(sizeMiB) {}

    void SetUp() override
    {
        if (const QString why = testsupport::realDeviceSkipReason(); !why.isEmpty())
            GTEST_SKIP() << why.toStdString();
        dir = std::make_unique<TempDir>();
        scratch = QString::fromStdString(dir->path());
        const std::string image = *dir / "disk.img";
        std::string table = "label: dos\\n";
        for (std::size_t i = 0; i < m_labels.size(); ++i)
            table += "," + std::to_string(m_size) + "M,7\\n";
        step("truncate -s " + std::to_string(m_size * m_labels.size() + 2) + "M " + image + " && printf '" + table
             + "' | sfdisk -q " + image);
        loop = attachLoop(image, int(m_labels.size()));
        for (std::size_t i = 0; i < m_labels.size(); ++i)
            step("mkntfs -q -f -Q -L '" + m_labels[i] + "' " + device(int(i) + 1));
        mountRoot = scratch + "/media/";
        ASSERT_TRUE(QDir().mkpath(mountRoot));
        manager = makeManager(testsupport::linuxProfile());
    }

    void TearDown() override
    {
        manager.reset();
        if (dir)
            removeWhere(under(dir->path())); // mounts go before anything below them is deleted
    }

    std::unique_ptr<DiskManager> makeManager(Platform profile) const
    {
        profile.mountRoot = mountRoot;
        profile.opener = QStringLiteral("/bin/true"); // no file browser in tests
        auto made = std::make_unique<DiskManager>(profile, std::make_shared<HelperShell>(profile),
                                                  std::make_shared<SystemFileProbe>());
        await(made->scanDisks());
        return made;
    }

    std::string device(int partition) const { return "/dev/" + loop + "p" + std::to_string(partition); }
    QString node(int partition) const { return QString::fromStdString(device(partition)).mid(5); }
    std::optional<NTFSDisk> find(int partition) const
    {
        for (const NTFSDisk &disk : manager->disks())
            if (disk.deviceNode == node(partition))
                return disk;
        return std::nullopt;
    }
    NTFSDisk disk(int partition) const { return find(partition).value_or(NTFSDisk{}); }

    std::unique_ptr<TempDir> dir;
    QString scratch, mountRoot;
    std::string loop; // "loopN"
    std::unique_ptr<DiskManager> manager;

private:
    std::vector<std::string> m_labels;
    int m_size;
};
