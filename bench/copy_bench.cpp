// Copy speed on one sparse loop disk of 10 GiB (an 8 GiB NTFS partition, so that ntfs-3g honours
// big_writes, and an ext4 one of 2 GiB), on a udisks2 stack of the benchmark's own: 1 GiB written
// with fsync and read back cold, and 5,000 files of 4 KiB written, synced and listed, through
//   - the disk model on udisks2 and the disk model through the stand-ins, with whatever mount
//     options the code passes (each mount's ntfs-3g command line goes to the log),
//   - `udisksctl mount -b` with udisks2's defaults,
//   - ext4 on the same disk, mounted with the kernel's defaults.
// Needs root, loop devices, FUSE, ntfs-3g and the tests' udisks2 stack.
#include "disks/DiskManager.h"
#include "shell/HelperShell.h"
#include "support/UDisksStack.h"

#include "StandinHarness.h"
#include "platform/standins/Text.h"

#include <QCoreApplication>
#include <QCoro/QCoroTask>
#include <QElapsedTimer>
#include <QRandomGenerator>

#include <benchmark/benchmark.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <linux/loop.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace standins::testing;
using testsupport::UDisksStack;

namespace {

constexpr qint64 kMiB = 1024 * 1024;
constexpr qint64 kCopyBytes = 1024 * kMiB;
constexpr int kSmallFiles = 5000;
constexpr qint64 kSmallFileBytes = 4096;
const QString kNtfs3g = QStringLiteral("/usr/bin/ntfs-3g");

enum class Way { ModelUDisks2, ModelStandins, Udisksctl, Ext4 };

// What a signal handler may still undo: the mounts, the loop device and the image.
char g_image[4096];
char g_mounted[4096];
char g_loopDevice[64];

void undoAndExit(int signal)
{
    if (g_mounted[0])
        ::umount2(g_mounted, MNT_DETACH);
    if (g_loopDevice[0]) {
        if (const int fd = ::open(g_loopDevice, O_RDONLY); fd >= 0) {
            ::ioctl(fd, LOOP_CLR_FD, 0);
            ::close(fd);
        }
    }
    if (g_image[0])
        ::unlink(g_image);
    ::_exit(128 + signal);
}

std::string g_loop; // "loopN"
std::string g_scratchDir;

QString node(int partition)
{
    return QString::fromStdString(g_loop + "p" + std::to_string(partition));
}

// ntfs-3g's command line for the partition, as the process list shows it.
std::string ntfs3gLine()
{
    return std::string(standins::trimmed(sh("for f in /proc/[0-9]*/cmdline; do tr '\\0' ' ' < $f; echo; done | grep -E '^[^ ]*(ntfs-3g|mount.ntfs)"
                      "[^ ]* /dev/" + g_loop + "p1 ' | head -n 1")
                       .standardOutput));
}

// One mounted file system of the kind `way` makes, taken down again on destruction.
class Mounted {
public:
    explicit Mounted(Way way) : m_way(way)
    {
        switch (way) {
        case Way::ModelUDisks2:
        case Way::ModelStandins: {
            Platform profile = Platform::linux(QStringLiteral(QUORVEL_BENCH_LIBEXEC));
            profile.opener = QStringLiteral("/bin/true"); // no file browser
            profile.mountRoot = QString::fromStdString(g_scratchDir + "/media/");
            std::optional<QDBusConnection> bus;
            if (way == Way::ModelUDisks2)
                bus = UDisksStack::shared().bus();
            m_model = std::make_unique<DiskManager>(ModelEnvironment{
                profile, std::make_shared<HelperShell>(profile), std::make_shared<SystemFileProbe>(), bus});
            QCoro::waitFor(m_model->scanDisks());
            const std::optional<DiskError> error = QCoro::waitFor(m_model->mountReadWrite(disk(), kNtfs3g));
            if (error)
                m_error = error->description.toStdString();
            else if (!disk().mountPoint)
                m_error = "no mount point after mountReadWrite";
            else
                directory = disk().mountPoint->toStdString();
            break;
        }
        case Way::Udisksctl: {
            const auto run = sh("udisksctl mount --no-user-interaction -b /dev/" + g_loop + "p1");
            const std::size_t at = run.standardOutput.find(" at ");
            if (run.exitCode != 0 || at == std::string::npos)
                m_error = "udisksctl mount: " + run.standardError;
            else
                directory = standins::trimmed(run.standardOutput.substr(at + 4));
            if (!directory.empty() && directory.back() == '.')
                directory.pop_back();
            break;
        }
        case Way::Ext4:
            directory = g_scratchDir + "/ext4";
            std::filesystem::create_directories(directory);
            if (const auto run = sh("mount /dev/" + g_loop + "p2 " + directory); run.exitCode != 0)
                m_error = "mount: " + run.standardError;
            break;
        }
        if (m_error.empty()) {
            std::snprintf(g_mounted, sizeof g_mounted, "%s", directory.c_str());
            if (way != Way::Ext4)
                std::fprintf(stderr, "copy_bench: %s\n", ntfs3gLine().c_str());
        } else {
            directory.clear();
        }
    }
    ~Mounted()
    {
        if (directory.empty())
            return;
        if (m_model)
            QCoro::waitFor(m_model->unmount(disk()));
        else if (m_way == Way::Udisksctl)
            sh("udisksctl unmount --no-user-interaction -b /dev/" + g_loop + "p1");
        else
            sh("umount " + directory);
        g_mounted[0] = '\0';
    }
    const std::string &error() const { return m_error; }

    std::string directory;

private:
    NTFSDisk disk() const
    {
        for (const NTFSDisk &disk : m_model->disks())
            if (disk.deviceNode == node(1))
                return disk;
        return {};
    }

    Way m_way;
    std::unique_ptr<DiskManager> m_model;
    std::string m_error;
};

void dropCaches()
{
    ::sync();
    std::ofstream("/proc/sys/vm/drop_caches") << "3\n";
}

// 1 MiB of random bytes, so that nothing on the way can make less of zeros.
const QByteArray &chunk()
{
    static const QByteArray bytes = [] {
        QByteArray out(kMiB, Qt::Uninitialized);
        QRandomGenerator(20240601).fillRange(reinterpret_cast<quint32 *>(out.data()), out.size() / 4);
        return out;
    }();
    return bytes;
}

// Seconds to write `bytes` to `path` and have them on the disk; negative when something failed.
double timedWrite(const std::string &path, qint64 bytes)
{
    QElapsedTimer clock;
    clock.start();
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return -1;
    bool ok = true;
    for (qint64 done = 0; ok && done < bytes; done += kMiB)
        ok = ::write(fd, chunk().constData(), kMiB) == kMiB;
    ok = ::fsync(fd) == 0 && ok;
    ok = ::close(fd) == 0 && ok;
    return ok ? double(clock.nsecsElapsed()) / 1e9 : -1;
}

// Seconds to read `path` whole with nothing of it in memory; negative when something failed.
double timedColdRead(const std::string &path, qint64 bytes)
{
    dropCaches();
    QElapsedTimer clock;
    clock.start();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    QByteArray buffer(kMiB, Qt::Uninitialized);
    qint64 total = 0;
    for (ssize_t got; (got = ::read(fd, buffer.data(), kMiB)) > 0;)
        total += got;
    ::close(fd);
    return total == bytes ? double(clock.nsecsElapsed()) / 1e9 : -1;
}

void BM_Copy(benchmark::State &state, Way way)
{
    dropCaches();
    const Mounted mounted(way);
    if (!mounted.error().empty()) {
        state.SkipWithError(mounted.error().c_str());
        return;
    }
    const std::string file = mounted.directory + "/copy.bin";
    double written = 0, read = 0;
    for (auto _ : state) {
        const double writing = timedWrite(file, kCopyBytes), reading = timedColdRead(file, kCopyBytes);
        if (writing < 0 || reading < 0) {
            state.SkipWithError("writing or reading the file failed");
            break;
        }
        state.SetIterationTime(writing);
        written += writing;
        read += reading;
        std::filesystem::remove(file);
    }
    const double megabytes = double(kCopyBytes) / 1e6 * double(state.iterations());
    state.counters["write_mbps"] = megabytes / written;
    state.counters["read_mbps"] = megabytes / read;
}

// kSmallFiles files of 4 KiB written one after another into a new `directory`; false when a call failed.
bool writeSmallFiles(const std::string &directory)
{
    bool ok = std::filesystem::create_directory(directory);
    for (int i = 0; ok && i < kSmallFiles; ++i) {
        const int fd = ::open((directory + "/file-" + std::to_string(i)).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
        ok = fd >= 0 && ::write(fd, chunk().constData(), kSmallFileBytes) == kSmallFileBytes;
        ok = fd >= 0 && ::close(fd) == 0 && ok;
    }
    return ok;
}

// 5,000 files of 4 KiB written one after another and synced, then listed with each file's
// attributes, as a file manager shows a folder; one process, as a copy does.
void BM_SmallFiles(benchmark::State &state, Way way)
{
    dropCaches();
    const Mounted mounted(way);
    if (!mounted.error().empty()) {
        state.SkipWithError(mounted.error().c_str());
        return;
    }
    const std::string directory = mounted.directory + "/small";
    double listing = 0;
    for (auto _ : state) {
        QElapsedTimer clock;
        clock.start();
        bool ok = writeSmallFiles(directory);
        const int dirFd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ok = ok && dirFd >= 0 && ::syncfs(dirFd) == 0;
        const qint64 listed = clock.nsecsElapsed();
        int seen = 0;
        if (DIR *entries = dirFd >= 0 ? ::fdopendir(::dup(dirFd)) : nullptr) {
            struct stat attributes {};
            while (const dirent *entry = ::readdir(entries))
                if (entry->d_name[0] != '.' && ::fstatat(dirFd, entry->d_name, &attributes, AT_SYMLINK_NOFOLLOW) == 0)
                    ++seen;
            ::closedir(entries);
        }
        const qint64 total = clock.nsecsElapsed();
        if (dirFd >= 0)
            ::close(dirFd);
        if (!ok || seen != kSmallFiles) {
            state.SkipWithError("writing or listing the files failed");
            break;
        }
        state.SetIterationTime(double(total) / 1e9);
        listing += double(total - listed) / 1e6;
        std::filesystem::remove_all(directory);
    }
    state.counters["list_ms"] = benchmark::Counter(listing, benchmark::Counter::kAvgIterations);
}

} // namespace

int main(int argc, char **argv)
{
    UDisksStack::prepareProcess();
    QCoreApplication app(argc, argv);
    if (const QString why = UDisksStack::skipReason(); !why.isEmpty()) {
        std::fprintf(stderr, "copy_bench: %s\n", qPrintable(why));
        return 1;
    }
    // Large and sparse: under /var/tmp, which is never memory.
    char scratch[] = "/var/tmp/quorvel-copy-bench.XXXXXX";
    if (!::mkdtemp(scratch)) {
        std::fprintf(stderr, "copy_bench: cannot make a directory under /var/tmp\n");
        return 1;
    }
    g_scratchDir = scratch;
    std::signal(SIGINT, undoAndExit);
    std::signal(SIGTERM, undoAndExit);
    ::setenv("QUORVEL_MOUNT_ROOT", (g_scratchDir + "/media/").c_str(), 1); // for the disk utility stand-in
    int status = 0;
    try {
        const std::string image = g_scratchDir + "/disk.img";
        std::snprintf(g_image, sizeof g_image, "%s", image.c_str());
        std::filesystem::create_directories(g_scratchDir + "/media");
        step("truncate -s 10G " + image + " && printf 'label: gpt\\n,8G,EBD0A0A2-B9E5-4433-87C0-68B6B72699C7\\n,,L\\n' | sfdisk -q "
             + image);
        g_loop = attachLoop(image, 2);
        std::snprintf(g_loopDevice, sizeof g_loopDevice, "/dev/%s", g_loop.c_str());
        step("mkntfs -Q -q -f -L Copy /dev/" + g_loop + "p1 >/dev/null 2>&1");
        // Inode tables and journal written now, not by the kernel in the background while measuring.
        step("mkfs.ext4 -q -E lazy_itable_init=0,lazy_journal_init=0 /dev/" + g_loop + "p2");
        UDisksStack::shared().settle(g_loop, {QStringLiteral("ntfs"), QStringLiteral("ext4")});
        // Each volume written once before anything is measured, as a volume in use is: the NTFS
        // file table grown for the small files, and the copy's blocks of the sparse image
        // allocated on both partitions. Otherwise the first way measured pays for what the later
        // ones reuse.
        const std::string warm = g_scratchDir + "/warm";
        step("mkdir " + warm + " && ntfs-3g -o big_writes /dev/" + g_loop + "p1 " + warm);
        bool warmed = writeSmallFiles(warm + "/small") && timedWrite(warm + "/copy.bin", kCopyBytes) >= 0;
        std::filesystem::remove_all(warm + "/small");
        step("rm -f " + warm + "/copy.bin && umount " + warm + " && mount /dev/" + g_loop + "p2 " + warm);
        warmed = timedWrite(warm + "/copy.bin", kCopyBytes) >= 0 && warmed;
        step("rm -f " + warm + "/copy.bin && umount " + warm);
        if (!warmed)
            throw std::runtime_error("the warm-up could not write its files");

        for (const auto &[name, way] : {std::pair{"model-udisks2", Way::ModelUDisks2},
                                        std::pair{"model-standins", Way::ModelStandins},
                                        std::pair{"udisksctl", Way::Udisksctl}, std::pair{"ext4", Way::Ext4}}) {
            benchmark::RegisterBenchmark((std::string("BM_Copy/") + name).c_str(), BM_Copy, way)
                ->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1)->Repetitions(5)
                ->ReportAggregatesOnly(true);
            benchmark::RegisterBenchmark((std::string("BM_SmallFiles/") + name).c_str(), BM_SmallFiles, way)
                ->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1)->Repetitions(5)
                ->ReportAggregatesOnly(true);
        }
        // The ways' rounds in a random order instead of one way after another, so that a slow
        // spell of the host (this disk's speed swings twofold between minutes on a VM) falls on
        // every way alike and the ratios compare rounds run side by side.
        std::vector<char *> args(argv, argv + argc);
        char interleaved[] = "--benchmark_enable_random_interleaving=true";
        args.insert(args.begin() + 1, interleaved);
        int count = int(args.size());
        benchmark::Initialize(&count, args.data());
        benchmark::RunSpecifiedBenchmarks();
        benchmark::Shutdown();
    } catch (const std::exception &error) {
        std::fprintf(stderr, "copy_bench: %s\n", error.what());
        status = 1;
    }
    removeWhere(under(g_scratchDir));
    std::error_code ignored;
    std::filesystem::remove_all(g_scratchDir, ignored);
    UDisksStack::stopShared();
    return status;
}
