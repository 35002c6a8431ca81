// The disk model under load on real devices: cycles of read-write mount, a check of every file
// ever written, 200 files of random contents written (at once, in pieces, past a hole or appended
// to) and synced, unmount, on a volume large enough for ntfs-3g's big writes, with the tray's model
// beside the window's; on the way a second mount elsewhere and a busy volume, and at the end the
// disk pulled out while mounted. Nothing written before a successful unmount may be lost, and
// at the end nothing may be left: no mount, directory, loop device, open descriptor, unreaped
// child or ntfs-3g still holding the device.
//
// QUORVEL_SOAK_CYCLES sets the number of cycles (50), QUORVEL_SOAK_SEED the random seed (printed).
#include "linux/DeviceFixture.h"
#include "shell/OffEventLoop.h"

#include <QCryptographicHash>
#include <QDirIterator>
#include <QProcess>
#include <QRandomGenerator>
#include <QThreadPool>

#include <cstring>
#include <iostream>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace testsupport;

namespace {

constexpr int kFilesPerCycle = 200;
constexpr int kSlots = 4;            // the cycles write into four directories in turn
constexpr int kRemovedPerCycle = 10; // files of the next directory removed in each cycle
constexpr qint64 KiB = 1024, MiB = 1024 * KiB;
// Past 4 GiB, where ntfs-3g takes big_writes when asked to.
constexpr int kVolumeMiB = 4160;

// Sizes NTFS cares about (small files live inside their MFT record, larger ones in clusters), and
// from the fifth on one byte either side of FUSE's write requests: 4 KiB, 128 KiB with big_writes,
// and the 1 MiB of a copy's buffer.
constexpr qint64 kEdges[] = {1,    700,        64 * KiB,       64 * KiB + 1, 4095,    4096,
                             4097, 128 * KiB - 1, 128 * KiB, 128 * KiB + 1, MiB - 1, MiB, MiB + 1};
constexpr int kFirstRequestEdge = 4, kFirstMiBEdge = 10;

// Some empty, some past 64 KiB, some on the edges (seldom those around 1 MiB, which take long to
// write without big writes), the rest up to 16 KiB.
qint64 fileSize(QRandomGenerator &random)
{
    switch (random.bounded(10)) {
    case 0: return 0;
    case 1: return 64 * KiB + 1 + random.bounded(int(192 * KiB));
    case 2: return kEdges[random.bounded(random.bounded(4) ? kFirstMiBEdge : int(std::size(kEdges)))];
    default: return 1 + random.bounded(int(16 * KiB));
    }
}

// How a file is written: at once; in pieces of the request edges' sizes, so that requests start
// and end off the pages; with a hole a seek past the end left between `split` and `split + gap`;
// or up to `split`, closed, and the rest appended after reopening.
enum class Shape { Whole, Pieces, Sparse, Appended };

// `content` into `path` in `shape`, synced; false when a call failed.
bool writeShaped(const QByteArray &path, const QByteArray &content, Shape shape, qint64 split, qint64 gap,
                 QRandomGenerator &random)
{
    int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    bool ok = fd >= 0;
    const auto put = [&](qint64 from, qint64 to) { return ok && ::write(fd, content.constData() + from, to - from) == to - from; };
    const qint64 size = content.size();
    if (shape == Shape::Whole)
        ok = put(0, size);
    for (qint64 at = 0, next; shape == Shape::Pieces && ok && at < size; at = next)
        ok = put(at, next = std::min(size, at + kEdges[random.bounded(kFirstRequestEdge, int(std::size(kEdges)))]));
    if (shape == Shape::Sparse)
        ok = put(0, split) && ::lseek(fd, split + gap, SEEK_SET) == split + gap && put(split + gap, size);
    if (shape == Shape::Appended) {
        ok = put(0, split);
        ok = ::close(fd) == 0 && ok;
        fd = ::open(path, O_WRONLY | O_APPEND | O_CLOEXEC);
        ok = ok && fd >= 0 && put(split, size);
    }
    ok = ok && ::fsync(fd) == 0;
    return (fd < 0 || ::close(fd) == 0) && ok;
}

// This process's open descriptors, "N -> target", as /proc tells at the moment of the call.
QStringList openDescriptors()
{
    QStringList out;
    const QDir fds("/proc/self/fd");
    for (const QString &fd : fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot))
        if (const QString target = QFile::symLinkTarget(fds.filePath(fd)); !target.isEmpty())
            out << fd + " -> " + target; // the listing's own is closed by now: no target
    return out;
}

bool hasUnreapedChild()
{
    siginfo_t info{};
    return ::waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid != 0;
}

// Finished processes are deleted from the event loop; this lets it get to them. It also ends the
// idle threads of the pools the scans read details and the probes look at the disks on: each holds
// its event loop's wake-up descriptor.
void settleDeferredDeletes()
{
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QThreadPool::globalInstance()->waitForDone();
    offloop::blockingPool().waitForDone();
}

class SoakTest : public DeviceFixture {
protected:
    // Quotes, a blank and UTF-8: the label travels through every quoted command line.
    SoakTest() : DeviceFixture({"Soak \"Q\" データ"}, kVolumeMiB) {}

    void SetUp() override
    {
        DeviceFixture::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        ASSERT_EQ(disk(1), (NTFSDisk{node(1), "Soak \"Q\" データ", kVolumeMiB * 1024 * KiB, std::nullopt, false, "ntfs"}));
        volume = mountRoot + disk(1).volumeName;
        trayManager = makeManager(linuxProfile()); // rescans as the window's model changes the mounts

        const QByteArray seedText = qgetenv("QUORVEL_SOAK_SEED");
        const quint32 seed = seedText.isEmpty() ? QRandomGenerator::global()->generate() : seedText.toUInt();
        random.seed(seed);
        std::cout << "soak: seed " << seed << " (QUORVEL_SOAK_SEED repeats it)\n";
    }

    void expectNothingLeft()
    {
        EXPECT_EQ(mountPointsOf(device(1)), std::vector<std::string>());
        EXPECT_EQ(entriesOf(mountRoot), QStringList());
    }

    // Mounted read-write on its directory, by the model's account too, and the user's alone.
    void mount()
    {
        const auto error = await(manager->mountReadWrite(disk(1), kNtfs3g));
        ASSERT_FALSE(error) << error->description.toStdString();
        EXPECT_EQ(disk(1).mountPoint, volume);
        EXPECT_TRUE(disk(1).isWritable);
        EXPECT_EQ(QFileInfo(volume).ownerId(), ::getuid());
        EXPECT_EQ(QFileInfo(volume).permissions() & QFile::Permissions(0x077), 0) << "other accounts may enter";
        ASSERT_EQ(mountPointsOf(device(1)), std::vector{volume.toStdString()});
    }
    void unmount()
    {
        const auto error = await(manager->unmount(disk(1)));
        ASSERT_FALSE(error) << error->description.toStdString();
        EXPECT_FALSE(disk(1).mountPoint);
        ASSERT_NO_FATAL_FAILURE(expectNothingLeft());
    }

    static QString fileName(int cycle, int index)
    {
        return QString("slot-%1/file-%2.bin").arg(cycle % kSlots).arg(index, 3, 10, QChar('0'));
    }

    // 200 files of random sizes, contents and shapes, synced, into this cycle's directory (replacing
    // what an earlier cycle left there), and a few files of the next directory removed.
    void writeFiles(int cycle)
    {
        ASSERT_TRUE(QDir(volume).mkpath(QFileInfo(fileName(cycle, 0)).path()));
        for (int i = 0; i < kFilesPerCycle; ++i) {
            const QString name = fileName(cycle, i);
            const auto shape = Shape(random.bounded(4));
            const qint64 size = fileSize(random), split = random.bounded(int(size) + 1);
            QByteArray content((size + 3) / 4 * 4, Qt::Uninitialized);
            random.fillRange(reinterpret_cast<quint32 *>(content.data()), content.size() / 4);
            content.resize(size);
            const qint64 gap = shape == Shape::Sparse ? kEdges[random.bounded(kFirstRequestEdge, kFirstMiBEdge)] : 0;
            if (shape == Shape::Sparse) // zeros where the hole is, and something after it
                content.insert(split, QByteArray(gap, '\0')).append(split == size ? "!" : "");
            ASSERT_TRUE(writeShaped(QFile::encodeName(volume + "/" + name), content, shape, split, gap, random))
                << name.toStdString() << " (" << int(shape) << "): " << std::strerror(errno);
            expected[name] = QCryptographicHash::hash(content, QCryptographicHash::Sha256);
            removed.remove(name);
        }
        for (int i = 0; i < kRemovedPerCycle; ++i)
            if (const QString name = fileName(cycle + 1, random.bounded(kFilesPerCycle)); expected.remove(name)) {
                ASSERT_TRUE(QFile::remove(volume + "/" + name)) << name.toStdString();
                removed.insert(name);
            }
    }

    // Every file written so far has its last contents, every removed file stays away, and nothing
    // else is there.
    void verifyAll()
    {
        QStringList problems;
        for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
            QFile file(volume + "/" + it.key());
            QCryptographicHash hash(QCryptographicHash::Sha256);
            if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file) || hash.result() != it.value())
                problems << it.key() + QString(": other contents (%1 bytes) %2").arg(file.size()).arg(file.errorString());
        }
        for (QDirIterator it(volume, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories); it.hasNext();)
            if (const QString name = QDir(volume).relativeFilePath(it.next()); !expected.contains(name))
                problems << name + (removed.contains(name) ? ": removed, but back" : ": never written");
        ASSERT_TRUE(problems.isEmpty()) << problems.size() << " problems, first ones:\n"
                                        << problems.mid(0, 20).join('\n').toStdString();
    }

    // Bound elsewhere too: the disk utility's info names the first mount, its unmount takes both,
    // and the emptied directory under the mount root as well.
    void boundElsewhere()
    {
        ASSERT_NO_FATAL_FAILURE(mount());
        step("mkdir " + *dir / "bound" + " && mount --bind '" + volume.toStdString() + "' " + *dir / "bound");
        const auto info = runStandin("diskutil", {"info", "-plist", node(1).toStdString()});
        EXPECT_NE(info.standardOutput.find("<string>" + volume.toStdString() + "</string>"), std::string::npos);
        const auto run = runStandin("diskutil", {"unmount", device(1)}, {"QUORVEL_MOUNT_ROOT=" + mountRoot.toStdString()});
        EXPECT_EQ(run.exitCode, 0) << run.standardError;
        ASSERT_NO_FATAL_FAILURE(expectNothingLeft());
        await(manager->scanDisks());
    }

    // A busy volume: code 4, the holders named, and it stays up, never unmounted lazily (what is
    // on it is checked at the next mount).
    void busy()
    {
        ASSERT_NO_FATAL_FAILURE(mount());
        QFile holder(volume + "/" + expected.cbegin().key());
        ASSERT_TRUE(holder.open(QIODevice::ReadOnly));
        QProcess sleeper;
        sleeper.setWorkingDirectory(volume);
        sleeper.start("sleep", {"600"});
        ASSERT_TRUE(sleeper.waitForStarted());
        expectBusyNamingHolders(await(manager->unmount(disk(1))), sleeper.processId());
        EXPECT_TRUE(disk(1).isWritable) << "still mounted after the rescan";
        ASSERT_EQ(mountPointsOf(device(1)), std::vector{volume.toStdString()});
        sleeper.kill();
        sleeper.waitForFinished();
        holder.close();
        ASSERT_NO_FATAL_FAILURE(unmount());
    }

    QString volume;
    std::unique_ptr<DiskManager> trayManager;
    QRandomGenerator random;
    QHash<QString, QByteArray> expected; // file → SHA-256 of its last contents
    QSet<QString> removed;               // files that must stay away
};

} // namespace

TEST_F(SoakTest, CyclesWithFaultsLoseNothingAndLeaveNothing)
{
    const int cycles = qEnvironmentVariableIsSet("QUORVEL_SOAK_CYCLES") ? qEnvironmentVariableIntValue("QUORVEL_SOAK_CYCLES") : 50;
    ASSERT_GT(cycles, 0) << "QUORVEL_SOAK_CYCLES must be a positive number";
    settleDeferredDeletes();
    const QStringList descriptors = openDescriptors();

    for (int number = 0; number < cycles; ++number) {
        SCOPED_TRACE("cycle " + std::to_string(number));
        ASSERT_NO_FATAL_FAILURE(mount());
        ASSERT_NO_FATAL_FAILURE(verifyAll());
        ASSERT_NO_FATAL_FAILURE(writeFiles(number));
        ASSERT_NO_FATAL_FAILURE(unmount());
        if (number == cycles / 4) {
            ASSERT_NO_FATAL_FAILURE(boundElsewhere());
        }
        if (number == cycles / 2) {
            ASSERT_NO_FATAL_FAILURE(busy());
        }
    }
    // ntfs-3g ends after its unmount. (The bracket keeps grep from finding the device in its own command line.)
    const std::string holders = "grep -lsa '" + device(1).substr(0, device(1).size() - 1) + "[1]' /proc/[0-9]*/cmdline";
    EXPECT_TRUE(processEventsUntil([&] { return sh(holders).standardOutput.empty(); }, 10000)) << sh(holders).standardOutput;

    // The last cycle's files, and the disk pulled out while mounted: reported once, without a scan
    // asked for, and its directory goes. (A loop device stays while the kernel's FUSE mount holds
    // it: the test takes the dead mount down itself, as the system does for a disk that is gone,
    // before it detaches the disk.)
    ASSERT_NO_FATAL_FAILURE(mount());
    ASSERT_NO_FATAL_FAILURE(verifyAll());
    QList<NTFSDisk> pulled;
    QObject::connect(manager.get(), &DiskManager::mountedDiskRemoved, [&](const NTFSDisk &disk) { pulled << disk; });
    step("kill -KILL $(" + holders + " | cut -d/ -f3)");
    step("umount -l '" + volume.toStdString() + "' && losetup -d /dev/" + loop + " && for i in $(seq 50); do [ -e "
         + device(1) + " ] || exit 0; sleep 0.1; done; exit 1");
    ASSERT_TRUE(processEventsUntil([&] { return pulled.size() == 1 && !QFileInfo::exists(volume); }))
        << pulled.size() << " reports; " << volume.toStdString() << " still there";
    EXPECT_EQ(pulled[0].deviceNode, node(1));
    await(manager->scanDisks());
    EXPECT_FALSE(find(node(1)));
    EXPECT_EQ(pulled.size(), 1);

    // With the models gone, so are their finished processes (deleted from the event loop). A
    // rescan one model started when the other changed the mount table may still be reading: its
    // child ends by itself.
    manager.reset();
    trayManager.reset();
    const auto opened = [&] {
        settleDeferredDeletes();
        QStringList since = openDescriptors();
        since.removeIf([&](const QString &descriptor) { return descriptors.contains(descriptor); });
        return since + (hasUnreapedChild() ? QStringList("unreaped children") : QStringList());
    };
    EXPECT_TRUE(processEventsUntil([&] { return opened().isEmpty(); }, 10000)) << opened().join(", ").toStdString();
    EXPECT_EQ(mountPointsWhere(under(dir->path())), std::vector<std::string>());
    EXPECT_EQ(entriesOf(mountRoot), QStringList());
    EXPECT_TRUE(processEventsUntil([&] { return loopsWhere(under(dir->path())).empty(); }, 10000))
        << testing::PrintToString(loopsWhere(under(dir->path())));
}
