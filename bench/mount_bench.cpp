// Mount speed: a real read-write mount and unmount of an NTFS volume on a loop device through
// DiskManager on the Linux profile, without the one-second settle wait after ntfs-3g, against the
// floor of the same mkdir, ntfs-3g and umount lines run directly by /bin/sh.
//
// The wait is measured, not assumed: a runner and a file probe wrapped around the real ones note
// when the ntfs-3g line returns and when the model next looks at the mount, and that span is
// taken out of each iteration.
#include "disks/DiskManager.h"
#include "disks/MountPaths.h"
#include "shell/HelperShell.h"

#include <QCoreApplication>
#include <QCoro/QCoroTask>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <fcntl.h>
#include <linux/loop.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

const QString kNtfs3g = QStringLiteral("/usr/bin/ntfs-3g");

int shell(const std::string &line)
{
    return std::system(line.c_str());
}

// One line through /bin/sh -c, as bare as it gets: posix_spawn and waitpid. The exit status.
int spawnLine(const QString &line)
{
    const QByteArray bytes = line.toLocal8Bit();
    char sh[] = "/bin/sh", c[] = "-c";
    char *argv[] = {sh, c, const_cast<char *>(bytes.constData()), nullptr};
    pid_t pid = 0;
    if (::posix_spawn(&pid, "/bin/sh", nullptr, nullptr, argv, environ) != 0)
        return -1;
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// What a signal handler may still undo: the mount, the loop device, the image and the scratch
// directories (the mount directory, the mount root and the one holding both and the image).
char g_mountDirectory[4096];
char g_loopDevice[64];
char g_image[4096];
char g_mountRoot[4096];
char g_scratch[4096];

void undoAndExit(int signal)
{
    if (g_mountDirectory[0])
        ::umount2(g_mountDirectory, MNT_DETACH);
    if (g_loopDevice[0]) {
        const int fd = ::open(g_loopDevice, O_RDONLY);
        if (fd >= 0) {
            ::ioctl(fd, LOOP_CLR_FD, 0);
            ::close(fd);
        }
    }
    if (g_image[0])
        ::unlink(g_image);
    for (const char *directory : {g_mountDirectory, g_mountRoot, g_scratch})
        if (directory[0])
            ::rmdir(directory);
    ::_exit(128 + signal);
}

// A GPT image with one 16 MiB NTFS partition "Bench" on a loop device, and a scratch mount root.
// Everything goes again in the destructor, or from the handler on SIGINT and SIGTERM.
class Volume {
public:
    Volume()
    {
        const std::string image = m_dir.filePath("disk.img").toStdString();
        std::snprintf(g_image, sizeof g_image, "%s", image.c_str());
        std::snprintf(g_scratch, sizeof g_scratch, "%s", qPrintable(m_dir.path()));
        shell("truncate -s 20M " + image);
        shell("printf 'label: gpt\\n,16M,EBD0A0A2-B9E5-4433-87C0-68B6B72699C7\\n' | sfdisk -q " + image
              + " >/dev/null 2>&1");
        FILE *out = ::popen(("losetup -P --show -f " + image).c_str(), "r");
        char buffer[64] = {};
        const bool attached = out && std::fgets(buffer, sizeof buffer, out);
        if (out)
            ::pclose(out);
        if (!attached)
            return;
        m_loop = buffer;
        m_loop.erase(m_loop.find_last_not_of('\n') + 1);
        std::snprintf(g_loopDevice, sizeof g_loopDevice, "%s", m_loop.c_str());
        shell("partx -a " + m_loop + " 2>/dev/null");
        if (::access((m_loop + "p1").c_str(), F_OK) != 0)
            return; // no partition node: never format a plain file under /dev
        if (shell("mkntfs -q -f -Q -L Bench " + m_loop + "p1 >/dev/null 2>&1") != 0)
            return;
        m_mountRoot = m_dir.filePath("media/");
        std::snprintf(g_mountRoot, sizeof g_mountRoot, "%s", qPrintable(m_mountRoot));
        std::snprintf(g_mountDirectory, sizeof g_mountDirectory, "%s", qPrintable(m_mountRoot + "Bench"));
        shell("mkdir -p '" + m_mountRoot.toStdString() + "'");
        // The disk utility stand-in removes an emptied mount directory under this root, as it does
        // under /media, so the model needs no rmdir of its own.
        ::setenv("QUORVEL_MOUNT_ROOT", g_mountRoot, 1);
        m_ready = true;
    }
    ~Volume()
    {
        if (g_mountDirectory[0])
            ::umount2(g_mountDirectory, MNT_DETACH);
        if (!m_loop.empty())
            shell("partx -d " + m_loop + " 2>/dev/null; losetup -d " + m_loop);
        g_mountDirectory[0] = g_loopDevice[0] = g_image[0] = g_mountRoot[0] = g_scratch[0] = '\0';
    }
    bool ready() const { return m_ready; }
    // The partition's node without /dev/, as the disk records name it.
    QString deviceNode() const { return QString::fromStdString(m_loop.substr(5) + "p1"); }
    QString mountRoot() const { return m_mountRoot; }

private:
    QTemporaryDir m_dir;
    std::string m_loop;
    QString m_mountRoot;
    bool m_ready = false;
};

Volume *g_volume = nullptr;

// The real runner, noting when the ntfs-3g line has returned and how long the rescans take.
class NotingRunner final : public CommandRunner {
public:
    explicit NotingRunner(const Platform &platform)
        : m_shell(platform)
        , m_diskutil(platform.diskutil)
        , m_mountListing(platform.mountListing)
    {
        clock.start(); // restarted for each iteration; valid already for the first scan
    }
    ShellResult run(const QString &command, const QStringList &arguments) override
    {
        const qint64 start = clock.nsecsElapsed();
        ShellResult result = m_shell.run(command, arguments);
        trace(start, joinCommandLine(command, arguments));
        // The mount table is the last thing a scan reads.
        if (command == m_mountListing)
            rescans += clock.nsecsElapsed() - scanStarted;
        return result;
    }
    // The scan's detail reads, overlapping as in the application.
    QList<ShellResult> runEach(const QList<Command> &commands) override
    {
        const qint64 start = clock.nsecsElapsed();
        QList<ShellResult> results = m_shell.runEach(commands);
        for (const Command &command : commands)
            trace(start, joinCommandLine(command.command, command.arguments));
        return results;
    }
    QCoro::Task<ShellResult> runAsync(QString command, QStringList arguments) override
    {
        const qint64 start = clock.nsecsElapsed();
        const QString line = joinCommandLine(command, arguments);
        // The listing is the first.
        if (command == m_diskutil && arguments.value(0) == QLatin1String("list"))
            scanStarted = start;
        ShellResult result = co_await m_shell.runAsync(std::move(command), std::move(arguments));
        trace(start, line);
        co_return result;
    }
    QCoro::Task<ShellResult> runPrivilegedAsync(QString commandLine) override
    {
        const qint64 start = clock.nsecsElapsed();
        const QString line = commandLine;
        const bool ntfs3g = commandLine.startsWith(MountPaths::doubleQuoted(kNtfs3g));
        ShellResult result = co_await m_shell.runPrivilegedAsync(std::move(commandLine));
        if (ntfs3g)
            mountReturned = clock.nsecsElapsed();
        trace(start, line);
        co_return result;
    }
    void launch(const QString &command, const QStringList &arguments) override
    {
        const qint64 start = clock.nsecsElapsed();
        m_shell.launch(command, arguments);
        trace(start, joinCommandLine(command, arguments));
    }

    QElapsedTimer clock;
    qint64 mountReturned = 0;
    qint64 scanStarted = 0;
    qint64 rescans = 0; // the time spent in scans since the clock started

private:
    // With MOUNT_BENCH_TRACE set: each command's start and end within the iteration, on stderr.
    void trace(qint64 start, const QString &line) const
    {
        static const bool enabled = qEnvironmentVariableIsSet("MOUNT_BENCH_TRACE");
        if (enabled)
            std::fprintf(stderr, "%8.2f %8.2f ms  %s\n", double(start) / 1e6, double(clock.nsecsElapsed()) / 1e6,
                         qPrintable(line));
    }

    HelperShell m_shell;
    QString m_diskutil;
    QString m_mountListing;
};

// The real file system, noting when the mount's writability is first asked after ntfs-3g.
class NotingProbe final : public FileProbe {
public:
    explicit NotingProbe(const NotingRunner &runner)
        : m_runner(runner)
    {
    }
    bool exists(const QString &path) const override { return m_files.exists(path); }
    bool isMountPoint(const QString &path) const override { return m_files.isMountPoint(path); }
    bool isWritableMount(const QString &path) const override
    {
        looked = m_runner.clock.nsecsElapsed();
        return m_files.isWritableMount(path);
    }
    bool isDevice(const QString &path) const override { return m_files.isDevice(path); }
    QByteArray read(const QString &path, qint64 offset, qint64 length) const override
    {
        return m_files.read(path, offset, length);
    }

    mutable qint64 looked = 0;

private:
    const NotingRunner &m_runner;
    SystemFileProbe m_files;
};

Platform benchProfile()
{
    Platform p = Platform::linux(QStringLiteral(QUORVEL_BENCH_LIBEXEC));
    p.opener = QStringLiteral("/bin/true"); // no file browser
    p.mountRoot = g_volume->mountRoot();
    return p;
}

std::optional<NTFSDisk> ours(const DiskManager &manager)
{
    for (const NTFSDisk &disk : manager.disks())
        if (disk.deviceNode == g_volume->deviceNode())
            return disk;
    return std::nullopt;
}

// Mount and unmount through the model; each iteration's time leaves out the settle wait.
void BM_ModelMountUnmount(benchmark::State &state)
{
    const Platform profile = benchProfile();
    auto runner = std::make_shared<NotingRunner>(profile);
    auto files = std::make_shared<NotingProbe>(*runner);
    DiskManager manager(profile, runner, files);
    QCoro::waitFor(manager.scanDisks());
    QCoreApplication::processEvents(); // the first scan queued at construction: not needed now
    if (!ours(manager)) {
        state.SkipWithError("the bench volume is not in the scan");
        return;
    }
    double waited = 0;
    double rescans = 0;
    double others = 0;
    for (auto _ : state) {
        runner->clock.start();
        runner->rescans = 0;
        const std::optional<DiskError> mountError = QCoro::waitFor(manager.mountReadWrite(*ours(manager), kNtfs3g));
        const std::optional<NTFSDisk> mounted = ours(manager);
        const std::optional<DiskError> unmountError =
            mounted ? QCoro::waitFor(manager.unmount(*mounted)) : std::nullopt;
        const qint64 total = runner->clock.nsecsElapsed();
        if (mountError || unmountError || !mounted || !mounted->isWritable) {
            state.SkipWithError(qPrintable(mountError ? mountError->description
                                           : unmountError ? unmountError->description
                                                          : QStringLiteral("no writable mount after mountReadWrite")));
            break;
        }
        const qint64 wait = files->looked - runner->mountReturned;
        waited += double(wait) / 1e9;
        rescans += double(runner->rescans) / 1e6;
        others += double(total - wait - runner->rescans) / 1e6;
        state.SetIterationTime(double(total - wait) / 1e9);
    }
    state.counters["wait_s"] = benchmark::Counter(waited, benchmark::Counter::kAvgIterations);
    // The two rescans (after the mount, after the unmount), which the floor does not do.
    state.counters["rescans_ms"] = benchmark::Counter(rescans, benchmark::Counter::kAvgIterations);
    state.counters["without_rescans_ms"] = benchmark::Counter(others, benchmark::Counter::kAvgIterations);
}

// The floor: the model's own mkdir, ntfs-3g and umount lines, each through /bin/sh -c.
void BM_DirectMountUnmount(benchmark::State &state)
{
    const Platform profile = benchProfile();
    NTFSDisk disk;
    disk.deviceNode = g_volume->deviceNode();
    disk.volumeName = QStringLiteral("Bench");
    const QString directory = MountPaths::directory(profile.mountRoot, disk);
    const QString mkdir = MountPaths::mkdirLine(directory);
    const QString ntfs3g = MountPaths::ntfs3gLine(kNtfs3g, disk.deviceNode, directory, profile.ntfs3gOptions);
    const QString umount = profile.unmountCommand + QLatin1Char(' ') + MountPaths::doubleQuoted(directory);
    for (auto _ : state) {
        if (spawnLine(mkdir) != 0 || spawnLine(ntfs3g) != 0 || spawnLine(umount) != 0) {
            state.SkipWithError("a direct mount line failed");
            break;
        }
    }
}

} // namespace

BENCHMARK(BM_ModelMountUnmount)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3)
    ->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_DirectMountUnmount)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(5)
    ->ReportAggregatesOnly(true);

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (::geteuid() != 0) {
        std::fprintf(stderr, "mount_bench: needs root for loop devices and mounts\n");
        return 1;
    }
    if (::access("/dev/fuse", R_OK | W_OK) != 0 || ::access(qPrintable(kNtfs3g), X_OK) != 0) {
        std::fprintf(stderr, "mount_bench: needs /dev/fuse and %s\n", qPrintable(kNtfs3g));
        return 1;
    }
    std::signal(SIGINT, undoAndExit);
    std::signal(SIGTERM, undoAndExit);
    Volume volume;
    if (!volume.ready()) {
        std::fprintf(stderr, "mount_bench: could not make the NTFS volume on a loop device\n");
        return 1;
    }
    g_volume = &volume;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
