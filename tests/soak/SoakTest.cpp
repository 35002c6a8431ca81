// The disk model under load on real devices: many cycles of read-write mount, 200 files of random
// contents written and synced, unmount, remount, a check of every file ever written, unmount;
// a second mount and children killed by SIGKILL on the way (damaged and busy volumes are
// tests/linux's). The Linux profile with the real runner and stand-ins, under a scratch mount
// root. Nothing written before a successful unmount may be lost, and at the end nothing may be
// left: no mount, directory, loop device, open descriptor, unreaped child or ntfs-3g still
// holding the device.
//
// QUORVEL_SOAK_CYCLES sets the number of cycles (50), QUORVEL_SOAK_SEED the random seed (printed).
#include "StandinHarness.h"
#include "disks/DiskManager.h"
#include "shell/HelperShell.h"
#include "support/Leftovers.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRandomGenerator>
#include <QThreadPool>
#include <QSet>

#include <gtest/gtest.h>

#include <cstring>
#include <iostream>
#include <functional>
#include <iterator>

#include <unistd.h>

using namespace standins::testing;
using testsupport::await;

namespace {

const QString kNtfs3g = "/usr/bin/ntfs-3g";
const QString kVolume = "Soak Data"; // the blank travels through every quoted command line
constexpr int kFilesPerCycle = 200;
constexpr int kSlots = 4;            // the cycles write into four directories in turn
constexpr int kRemovedPerCycle = 10; // files of the next directory removed in each cycle
constexpr qint64 KiB = 1024;

// A size for one file: some empty, some past 64 KiB, some on the edges NTFS cares about
// (small files live inside their MFT record, larger ones in clusters), the rest up to 16 KiB.
qint64 fileSize(QRandomGenerator &random)
{
    static const qint64 edges[] = {1, 700, 4095, 4096, 4097, 64 * KiB, 64 * KiB + 1};
    switch (random.bounded(10)) {
    case 0: return 0;
    case 1: return 64 * KiB + 1 + random.bounded(int(192 * KiB));
    case 2: return edges[random.bounded(int(std::size(edges)))];
    default: return 1 + random.bounded(int(16 * KiB));
    }
}

QByteArray randomContent(QRandomGenerator &random, qint64 size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qint64 at = 0; at < size; at += 4) {
        const quint32 word = random.generate();
        std::memcpy(bytes.data() + at, &word, size_t(std::min<qint64>(4, size - at)));
    }
    return bytes;
}

// Writes `content` to `path` and syncs it to the volume; the first failure, or nothing.
QString writeSynced(const QString &path, const QByteArray &content)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return "open: " + file.errorString();
    if (file.write(content) != content.size() || !file.flush())
        return "write: " + file.errorString();
    if (::fsync(file.handle()) != 0)
        return QString("fsync: ") + std::strerror(errno);
    file.close();
    return file.error() == QFileDevice::NoError ? QString() : "close: " + file.errorString();
}

// Where /dev/<node> is mounted, in mount order.
QStringList mountsOf(const QString &node)
{
    QStringList points;
    for (const std::string &point : mountPointsOf("/dev/" + node.toStdString()))
        points << QString::fromStdString(point);
    return points;
}

QStringList entriesOf(const QString &directory)
{
    return QDir(directory).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                                     QDir::Name);
}

class SoakTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const QString reason = testsupport::realDeviceSkipReason();
        if (!reason.isEmpty())
            GTEST_SKIP() << reason.toStdString();
        if (!QFileInfo(kNtfs3g).isExecutable())
            GTEST_SKIP() << kNtfs3g.toStdString() << " is missing";

        dir = std::make_unique<TempDir>();
        scratch = QString::fromStdString(dir->path());
        step("truncate -s 96M " + *dir / "disk.img");
        step("printf 'label: dos\\n,,7\\n' | sfdisk -q " + *dir / "disk.img");
        loop = QString::fromStdString(attachLoop(*dir / "disk.img", 1));
        soakNode = loop + "p1";
        step("mkntfs -q -f -Q -L '" + kVolume.toStdString() + "' /dev/" + soakNode.toStdString());

        mountRoot = scratch + "/media/";
        soakDirectory = mountRoot + kVolume;
        ASSERT_TRUE(QDir().mkpath(mountRoot) && QDir().mkpath(scratch + "/bin"));
        // Stand-ins for children that die by SIGKILL: ntfs-3g before and after it mounted, and
        // the disk utility before or after it unmounts, as the file diskutil-fault says.
        const QString real = testsupport::linuxProfile().diskutil;
        script("ntfs-3g-killed-early", "kill -KILL $$\n");
        script("ntfs-3g-killed-late", kNtfs3g + " \"$@\" || exit\nkill -KILL $$\n");
        script("diskutil", "fault=$(cat " + scratch + "/bin/diskutil-fault 2>/dev/null)\n"
                           "[ \"$1 $fault\" = 'unmount before' ] && kill -KILL $$\n"
                           + real + " \"$@\" || exit\n"
                           "[ \"$1 $fault\" = 'unmount after' ] && kill -KILL $$\n"
                           "exit 0\n");

        Platform profile = testsupport::linuxProfile();
        profile.mountRoot = mountRoot;
        profile.opener = "/bin/true"; // no file browser in tests
        const auto make = [&] {
            auto made = std::make_unique<DiskManager>(profile, std::make_shared<HelperShell>(profile),
                                                      std::make_shared<SystemFileProbe>());
            await(made->scanDisks());
            return made;
        };
        manager = make();
        profile.diskutil = scratch + "/bin/diskutil";
        faultyManager = make();
        ASSERT_TRUE(record(soakNode)) << "the soak volume is not listed";

        const QByteArray seedText = qgetenv("QUORVEL_SOAK_SEED");
        const quint32 seed = seedText.isEmpty() ? QRandomGenerator::global()->generate() : seedText.toUInt();
        random.seed(seed);
        std::cout << "soak: seed " << seed << " (QUORVEL_SOAK_SEED repeats it)\n";
    }

    void TearDown() override
    {
        manager.reset();
        faultyManager.reset();
        if (dir)
            removeWhere(under(dir->path())); // mounts go before anything below them is deleted
        dir.reset();
    }

    void script(const QString &name, const QString &body)
    {
        ASSERT_TRUE(testsupport::writeScript(scratch + "/bin/" + name, body.toUtf8())) << name.toStdString();
    }

    std::optional<NTFSDisk> record(const QString &node) const
    {
        for (const NTFSDisk &disk : manager->disks())
            if (disk.deviceNode == node)
                return disk;
        return std::nullopt;
    }
    NTFSDisk soak() const { return record(soakNode).value_or(NTFSDisk{soakNode, kVolume, 0, std::nullopt, false, "ntfs"}); }

    // The soak volume is mounted read-write on its directory, by the model's own account too.
    void expectMounted()
    {
        const NTFSDisk disk = soak();
        EXPECT_EQ(disk.mountPoint, soakDirectory);
        EXPECT_TRUE(disk.isWritable);
        ASSERT_EQ(mountsOf(soakNode), QStringList{soakDirectory});
    }
    // Nothing of a volume is mounted, and nothing is left in the mount root.
    void expectNothingLeftOf(const QString &node)
    {
        EXPECT_EQ(mountsOf(node), QStringList());
        EXPECT_EQ(entriesOf(mountRoot), QStringList());
    }

    void mount()
    {
        const auto error = await(manager->mountReadWrite(soak(), kNtfs3g));
        ASSERT_FALSE(error) << error->description.toStdString();
        ASSERT_NO_FATAL_FAILURE(expectMounted());
    }
    void unmount()
    {
        const auto error = await(manager->unmount(soak()));
        ASSERT_FALSE(error) << error->description.toStdString();
        EXPECT_FALSE(soak().mountPoint);
        ASSERT_NO_FATAL_FAILURE(expectNothingLeftOf(soakNode));
    }

    static QString fileName(int cycle, int index)
    {
        return QString("slot-%1/file-%2.bin").arg(cycle % kSlots).arg(index, 3, 10, QChar('0'));
    }

    // 200 files of random sizes and contents into this cycle's directory (replacing what an
    // earlier cycle left there), and a few files of the next directory removed.
    void writeFiles(int cycle)
    {
        ASSERT_TRUE(QDir(soakDirectory).mkpath(QFileInfo(fileName(cycle, 0)).path()));
        for (int i = 0; i < kFilesPerCycle; ++i) {
            const QString name = fileName(cycle, i);
            const QByteArray content = randomContent(random, fileSize(random));
            const QString failure = writeSynced(soakDirectory + "/" + name, content);
            ASSERT_TRUE(failure.isEmpty()) << name.toStdString() << ": " << failure.toStdString();
            expected[name] = QCryptographicHash::hash(content, QCryptographicHash::Sha256);
            removed.remove(name);
            bytesWritten += content.size();
        }
        filesWritten += kFilesPerCycle;
        for (int i = 0; i < kRemovedPerCycle; ++i) {
            const QString name = fileName(cycle + 1, random.bounded(kFilesPerCycle));
            if (expected.remove(name)) {
                ASSERT_TRUE(QFile::remove(soakDirectory + "/" + name)) << name.toStdString();
                removed.insert(name);
            }
        }
    }

    // Every file written so far has its last contents, every removed file stays away, and
    // nothing else is there.
    void verifyAll()
    {
        QStringList problems;
        for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
            QFile file(soakDirectory + "/" + it.key());
            QCryptographicHash hash(QCryptographicHash::Sha256);
            if (!file.open(QIODevice::ReadOnly))
                problems << it.key() + ": " + file.errorString();
            else if (!hash.addData(&file) || hash.result() != it.value())
                problems << it.key() + QString(": other contents (%1 bytes)").arg(file.size());
        }
        for (const QString &name : removed)
            if (QFileInfo::exists(soakDirectory + "/" + name))
                problems << name + ": removed, but back";
        for (const QString &directory : entriesOf(soakDirectory))
            for (const QString &name : entriesOf(soakDirectory + "/" + directory))
                if (!expected.contains(directory + "/" + name) && !removed.contains(directory + "/" + name))
                    problems << directory + "/" + name + ": never written";
        ++verifications;
        ASSERT_TRUE(problems.isEmpty()) << problems.size() << " problems after " << filesWritten
                                        << " files written, first ones:\n"
                                        << problems.mid(0, 20).join('\n').toStdString();
    }

    // Mounts, checks every file and unmounts again.
    void remountAndVerify()
    {
        ASSERT_NO_FATAL_FAILURE(mount());
        ASSERT_NO_FATAL_FAILURE(verifyAll());
        ASSERT_NO_FATAL_FAILURE(unmount());
    }
    void cycle(int number)
    {
        ASSERT_NO_FATAL_FAILURE(mount());
        ASSERT_NO_FATAL_FAILURE(writeFiles(number));
        ASSERT_NO_FATAL_FAILURE(unmount());
        ASSERT_NO_FATAL_FAILURE(remountAndVerify());
    }
    // The error of a failed operation has `code` and starts with `prefix`.
    static void expectError(const std::optional<DiskError> &error, DiskError::Code code, const QString &prefix)
    {
        ASSERT_TRUE(error);
        EXPECT_EQ(error->code, code);
        EXPECT_TRUE(error->description.startsWith(prefix)) << error->description.toStdString();
    }

    // Bound elsewhere too: the disk utility's info names the first mount, its unmount takes both,
    // and the emptied directory under the mount root as well (the model would remove a directory
    // left behind itself).
    void boundElsewhere()
    {
        ASSERT_NO_FATAL_FAILURE(mount());
        step("mkdir " + *dir / "bound" + " && mount --bind '" + soakDirectory.toStdString() + "' " + *dir / "bound");
        const auto info = runStandin("diskutil", {"info", "-plist", soakNode.toStdString()}); // keeps to the first
        EXPECT_NE(info.standardOutput.find("<string>" + soakDirectory.toStdString() + "</string>"), std::string::npos);
        const auto run = runStandin("diskutil", {"unmount", "/dev/" + soakNode.toStdString()},
                                    {"QUORVEL_MOUNT_ROOT=" + mountRoot.toStdString()});
        EXPECT_EQ(run.exitCode, 0) << run.standardError;
        ASSERT_NO_FATAL_FAILURE(expectNothingLeftOf(soakNode));
        await(manager->scanDisks());
    }

    // Children killed by SIGKILL: ntfs-3g before and after it mounted (both code 3, nothing left
    // mounted or created); the disk utility before it unmounts (code 4, the volume stays up with
    // everything on it and unmounts normally afterwards) and after (code 4, nothing left).
    void killedChildren()
    {
        for (const QString wrapper : {"ntfs-3g-killed-early", "ntfs-3g-killed-late"}) {
            SCOPED_TRACE(wrapper.toStdString());
            const auto error = await(manager->mountReadWrite(soak(), scratch + "/bin/" + wrapper));
            ASSERT_NO_FATAL_FAILURE(expectError(error, DiskError::MountFailed, "Mount failed: "));
            ASSERT_NO_FATAL_FAILURE(expectNothingLeftOf(soakNode));
            await(manager->scanDisks());
            EXPECT_FALSE(soak().mountPoint);
        }

        for (const bool before : {true, false}) {
            SCOPED_TRACE(before ? "diskutil killed before it unmounts" : "diskutil killed after it unmounted");
            ASSERT_NO_FATAL_FAILURE(mount());
            writeFile((scratch + "/bin/diskutil-fault").toStdString(), before ? "before" : "after");
            const auto error = await(faultyManager->unmount(soak()));
            ASSERT_NO_FATAL_FAILURE(expectError(error, DiskError::UnmountFailed, ""));
            if (before) {
                ASSERT_NO_FATAL_FAILURE(expectMounted());
                ASSERT_NO_FATAL_FAILURE(verifyAll());
                ASSERT_NO_FATAL_FAILURE(unmount());
            } else {
                ASSERT_NO_FATAL_FAILURE(expectNothingLeftOf(soakNode));
                ASSERT_NO_FATAL_FAILURE(remountAndVerify());
            }
        }
    }

    // Finished processes are deleted from the event loop; this lets it get to them.
    // Also ends the idle threads of the pool the scans read details on: each holds its event
    // loop's wake-up descriptor until it expires.
    static void settleDeferredDeletes()
    {
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QThreadPool::globalInstance()->waitForDone();
    }

    std::unique_ptr<TempDir> dir;
    QString scratch;
    QString loop; // "loopN"
    QString soakNode;
    QString mountRoot, soakDirectory;
    std::unique_ptr<DiskManager> manager;
    std::unique_ptr<DiskManager> faultyManager; // its disk utility may die on unmount
    QRandomGenerator random;
    QHash<QString, QByteArray> expected; // file → SHA-256 of its last contents
    QSet<QString> removed;               // files that must stay away
    qint64 filesWritten = 0, bytesWritten = 0;
    int verifications = 0;
};

} // namespace

TEST_F(SoakTest, CyclesWithFaultsLoseNothingAndLeaveNothing)
{
    const char *const cyclesVariable = "QUORVEL_SOAK_CYCLES";
    const int cycles = qEnvironmentVariableIsSet(cyclesVariable) ? qEnvironmentVariableIntValue(cyclesVariable) : 50;
    ASSERT_TRUE(cycles > 0) << "QUORVEL_SOAK_CYCLES must be a positive number";
    settleDeferredDeletes();
    const QStringList descriptors = testsupport::openDescriptors();

    QElapsedTimer clock;
    clock.start();
    for (int number = 0; number < cycles; ++number) {
        SCOPED_TRACE("cycle " + std::to_string(number));
        ASSERT_NO_FATAL_FAILURE(cycle(number));
        // A second mount of the volume a quarter of the way through, killed children half-way.
        if (number == cycles / 4) {
            ASSERT_NO_FATAL_FAILURE(boundElsewhere());
        }
        if (number == cycles / 2) {
            ASSERT_NO_FATAL_FAILURE(killedChildren());
        }
    }
    std::cout << "soak: " << cycles << " cycles, " << filesWritten << " files (" << bytesWritten / KiB
              << " KiB) written, " << verifications << " full checks of up to " << expected.size()
              << " files, in " << clock.elapsed() / 1000.0 << " s\n";

    // Nothing left: the models are gone, so are their finished processes (deleted from the
    // event loop) and the ntfs-3g daemons, which end after their unmount.
    // A rescan one model started when the other changed the mount table may still be reading:
    // its child ends by itself.
    manager.reset();
    faultyManager.reset();
    const auto settles = [](const std::function<bool()> &condition) { return testsupport::processEventsUntil(condition, 10000); };
    const auto opened = [&] {
        settleDeferredDeletes();
        QStringList since = testsupport::openDescriptors();
        since.removeIf([&](const QString &descriptor) { return descriptors.contains(descriptor); });
        return since + (testsupport::zombieChildren().isEmpty() ? QStringList() : QStringList("unreaped children"));
    };
    EXPECT_TRUE(settles([&] { return opened().isEmpty(); })) << opened().join(", ").toStdString();
    EXPECT_EQ(mountPointsWhere(under(dir->path())), std::vector<std::string>());
    EXPECT_EQ(entriesOf(mountRoot), QStringList());
    EXPECT_EQ(mountsOf(soakNode), QStringList());
    EXPECT_TRUE(settles([&] { return testsupport::processesHolding("/dev/" + soakNode).isEmpty(); }))
        << soakNode.toStdString() << " held by " << testsupport::processesHolding("/dev/" + soakNode).join(", ").toStdString();

    // A loop device still in use stays attached after `losetup -d` (it is only marked to go).
    step("partx -d /dev/" + loop.toStdString() + " 2>/dev/null; losetup -d /dev/" + loop.toStdString());
    EXPECT_TRUE(settles([&] { return loopsWhere(under(dir->path())).empty(); }))
        << testing::PrintToString(loopsWhere(under(dir->path())));
}
