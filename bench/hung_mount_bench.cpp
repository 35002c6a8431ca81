// Responsiveness beside a hung FUSE mount: an NTFS volume mounted by ntfs-3g on the directory
// the model tries first for a second volume of the same name, its daemon stopped, so that every
// stat of that directory waits. The longest gap of a 1 ms timer on the event loop while the model
// mounts the second volume (its directory probe meets the hung one first) and tries to unmount
// the hung one (a program holds it; the left-behind check and the holders' walk follow). Each
// operation may end in an error once the probe's time limit has passed: it is reported beside the
// gap. Needs root, loop devices, FUSE and ntfs-3g.
#include "EventLoopGap.h"
#include "disks/DiskManager.h"
#include "shell/HelperShell.h"
#include "shell/OffEventLoop.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>

#include <benchmark/benchmark.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <linux/close_range.h>
#include <linux/loop.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const QString kNtfs3g = QStringLiteral("/usr/bin/ntfs-3g");

int shell(const std::string &line)
{
    return std::system(line.c_str());
}

// What the guardian undoes should this process end without doing so itself.
struct Undo {
    char mountDirectory[4096] = {};
    char loopDevice[64] = {};
    char image[4096] = {};
    char mountRoot[4096] = {};
    char scratch[4096] = {};
    pid_t daemon = 0;
    pid_t holder = 0;
};

// Async-signal-safe: the stopped daemon goes on, the holder goes, then the mount, the loop device,
// the image and the directories.
void undo(const Undo &u)
{
    if (u.daemon > 0)
        ::kill(u.daemon, SIGCONT);
    if (u.holder > 0)
        ::kill(u.holder, SIGKILL);
    if (u.mountDirectory[0] && ::umount2(u.mountDirectory, 0) != 0)
        ::umount2(u.mountDirectory, MNT_DETACH);
    if (u.loopDevice[0]) {
        const int fd = ::open(u.loopDevice, O_RDONLY);
        if (fd >= 0) {
            ::ioctl(fd, LOOP_CLR_FD, 0);
            ::close(fd);
        }
    }
    if (u.image[0])
        ::unlink(u.image);
    for (const char *directory : {u.mountDirectory, u.mountRoot, u.scratch})
        if (directory[0])
            ::rmdir(directory);
}

// The pid of the ntfs-3g process serving `device`, from its command line; 0 when none.
pid_t daemonOf(const std::string &device)
{
    DIR *processes = ::opendir("/proc");
    if (!processes)
        return 0;
    pid_t found = 0;
    while (const dirent *entry = ::readdir(processes)) {
        std::ifstream file(std::string("/proc/") + entry->d_name + "/cmdline");
        const std::string line((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        const std::string program = line.substr(0, line.find('\0'));
        if (program.ends_with("ntfs-3g") && line.find(std::string(1, '\0') + device + '\0') != std::string::npos) {
            found = pid_t(std::atoi(entry->d_name));
            break;
        }
    }
    ::closedir(processes);
    return found;
}

// Whether every thread of `pid` has stopped.
bool hasStopped(pid_t pid)
{
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    DIR *threads = ::opendir(tasks.c_str());
    if (!threads)
        return false;
    bool stopped = true;
    while (const dirent *entry = ::readdir(threads)) {
        if (entry->d_name[0] == '.')
            continue;
        std::ifstream file(tasks + "/" + entry->d_name + "/stat");
        std::string line;
        std::getline(file, line);
        const auto close = line.rfind(')'); // the state follows the command name, which may hold anything
        const char state = close != std::string::npos && close + 2 < line.size() ? line[close + 2] : '?';
        stopped = stopped && (state == 'T' || state == 't');
    }
    ::closedir(threads);
    return stopped;
}

// One image with two 16 MiB NTFS partitions, both named "Bench", on a loop device; the first
// mounted by ntfs-3g on the scratch mount root's "Bench" and held by a sleeping process whose
// working directory it is. A guardian process undoes it all should this one die without doing
// so; the destructor undoes it otherwise.
class Scene {
public:
    Scene()
    {
        const std::string image = m_dir.filePath("disk.img").toStdString();
        std::snprintf(m_undo.image, sizeof m_undo.image, "%s", image.c_str());
        std::snprintf(m_undo.scratch, sizeof m_undo.scratch, "%s", qPrintable(m_dir.path()));
        m_mountRoot = m_dir.filePath("media/");
        std::snprintf(m_undo.mountRoot, sizeof m_undo.mountRoot, "%s", qPrintable(m_mountRoot));
        startGuardian();
        shell("truncate -s 40M " + image);
        shell("printf 'label: gpt\\n,16M,EBD0A0A2-B9E5-4433-87C0-68B6B72699C7\\n,16M,EBD0A0A2-B9E5-4433-87C0-68B6B72699C7\\n'"
              " | sfdisk -q " + image + " >/dev/null 2>&1");
        FILE *out = ::popen(("losetup -P --show -f " + image).c_str(), "r");
        char buffer[64] = {};
        const bool attached = out && std::fgets(buffer, sizeof buffer, out);
        if (out)
            ::pclose(out);
        if (!attached)
            return;
        m_loop = buffer;
        m_loop.erase(m_loop.find_last_not_of('\n') + 1);
        std::snprintf(m_undo.loopDevice, sizeof m_undo.loopDevice, "%s", m_loop.c_str());
        syncGuardian();
        shell("partx -a " + m_loop + " 2>/dev/null");
        // No partition nodes: never format a plain file under /dev.
        for (const char *partition : {"p1", "p2"})
            if (::access((m_loop + partition).c_str(), F_OK) != 0
                || shell("mkntfs -q -f -Q -L Bench " + m_loop + partition + " >/dev/null 2>&1") != 0)
                return;
        const std::string directory = m_mountRoot.toStdString() + "Bench";
        shell("mkdir -p '" + directory + "'");
        std::snprintf(m_undo.mountDirectory, sizeof m_undo.mountDirectory, "%s", directory.c_str());
        syncGuardian();
        // The daemon keeps no output of this process open: a reader of it would wait for the daemon.
        if (shell("/usr/bin/ntfs-3g " + m_loop + "p1 '" + directory + "' -o allow_other </dev/null >/dev/null 2>&1") != 0)
            return;
        m_undo.daemon = daemonOf(m_loop + "p1");
        m_undo.holder = ::fork();
        if (m_undo.holder == 0) {
            if (::chdir(directory.c_str()) == 0)
                ::execl("/bin/sleep", "sleep", "infinity", static_cast<char *>(nullptr));
            ::_exit(127);
        }
        syncGuardian();
        m_ready = m_undo.daemon > 0 && m_undo.holder > 0;
    }
    ~Scene()
    {
        resume();
        if (m_undo.holder > 0) {
            ::kill(m_undo.holder, SIGKILL);
            ::waitpid(m_undo.holder, nullptr, 0);
        }
        // Anything the model may have mounted beside the hung volume goes first.
        for (const QString &name : QDir(m_mountRoot).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            const QByteArray path = QFile::encodeName(m_mountRoot + name);
            if (path != m_undo.mountDirectory && ::umount2(path.constData(), 0) != 0)
                ::umount2(path.constData(), MNT_DETACH);
            ::rmdir(path.constData());
        }
        if (m_undo.mountDirectory[0] && ::umount2(m_undo.mountDirectory, 0) != 0)
            ::umount2(m_undo.mountDirectory, MNT_DETACH);
        if (!m_loop.empty())
            shell("partx -d " + m_loop + " 2>/dev/null; losetup -d " + m_loop);
        m_undo = {};
        syncGuardian();
        ::close(m_guardian); // the guardian ends with nothing left to undo
        ::waitpid(m_guardianPid, nullptr, 0);
    }
    bool ready() const { return m_ready; }
    QString mountRoot() const { return m_mountRoot; }
    // The partitions' nodes without /dev/, as the disk records name them.
    QString hungNode() const { return QString::fromStdString(m_loop.substr(5) + "p1"); }
    QString freeNode() const { return QString::fromStdString(m_loop.substr(5) + "p2"); }

    // Stops the daemon and waits until a stat of the mount directory hangs (the attributes ntfs-3g
    // gave the kernel expire after a moment). False if it never does.
    bool hang()
    {
        ::kill(m_undo.daemon, SIGSTOP);
        // A request the daemon read just before it stopped would wait unkillably: none is sent
        // until it has.
        for (int wait = 0; wait < 100 && !hasStopped(m_undo.daemon); ++wait)
            QThread::msleep(10);
        for (int attempt = 0; attempt < 10; ++attempt) {
            if (statHangs())
                return true;
            QThread::msleep(500);
        }
        return false;
    }
    // The daemon goes on; the stats that waited on it end.
    void resume()
    {
        if (m_undo.daemon > 0)
            ::kill(m_undo.daemon, SIGCONT);
        for (const pid_t prober : std::exchange(m_probers, {}))
            ::waitpid(prober, nullptr, 0);
    }

private:
    // Whether a stat of the mount directory by a child process is still waiting after 300 ms. A
    // waiting child is killed (a FUSE request not yet read gives way to SIGKILL) and reaped once
    // the daemon goes on.
    bool statHangs()
    {
        const pid_t child = ::fork();
        if (child == 0) {
            ::close(m_guardian); // the guardian must see this process's end at once
            struct stat st {};
            ::lstat(m_undo.mountDirectory, &st);
            ::_exit(0);
        }
        if (child < 0)
            return false;
        QThread::msleep(300);
        if (::waitpid(child, nullptr, WNOHANG) == child)
            return false;
        ::kill(child, SIGKILL);
        m_probers.push_back(child);
        return true;
    }

    // The guardian holds a copy of the undo record, renewed by syncGuardian, and acts on it once
    // the pipe closes without a last, empty record having been sent.
    void startGuardian()
    {
        int ends[2];
        // Close-on-exec: the programs started later (ntfs-3g, the holder) must not keep it open.
        if (::pipe2(ends, O_CLOEXEC) != 0)
            return;
        m_guardianPid = ::fork();
        if (m_guardianPid == 0) {
            ::close(ends[1]);
            for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT})
                ::signal(signal, SIG_IGN);
            static Undo held;
            Undo next;
            for (;;) {
                std::size_t got = 0;
                while (got < sizeof next) {
                    const ssize_t n = ::read(ends[0], reinterpret_cast<char *>(&next) + got, sizeof next - got);
                    if (n <= 0)
                        break;
                    got += std::size_t(n);
                }
                if (got < sizeof next)
                    break;
                held = next;
            }
            undo(held);
            ::_exit(0);
        }
        ::close(ends[0]);
        m_guardian = ends[1];
    }
    void syncGuardian() const
    {
        if (m_guardian >= 0)
            [[maybe_unused]] const ssize_t n = ::write(m_guardian, &m_undo, sizeof m_undo);
    }

    QTemporaryDir m_dir;
    std::string m_loop;
    QString m_mountRoot;
    Undo m_undo;
    int m_guardian = -1;
    pid_t m_guardianPid = 0;
    std::vector<pid_t> m_probers;
    bool m_ready = false;
};

Scene *g_scene = nullptr;

Platform benchProfile()
{
    Platform p = Platform::linux(QStringLiteral(QUORVEL_BENCH_LIBEXEC));
    p.opener = QStringLiteral("/bin/true"); // no file browser
    p.mountRoot = g_scene->mountRoot();
    return p;
}

std::optional<NTFSDisk> listed(const DiskManager &manager, const QString &node)
{
    for (const NTFSDisk &disk : manager.disks())
        if (disk.deviceNode == node)
            return disk;
    return std::nullopt;
}

// One operation per iteration against the hung mount: its time is the operation's, the gap a
// counter beside it, what it ended with the label.
void BM_HungMountGap(benchmark::State &state, bool mount)
{
    const Platform profile = benchProfile();
    DiskManager manager(profile, std::make_shared<HelperShell>(profile), std::make_shared<SystemFileProbe>());
    QCoro::waitFor(manager.scanDisks());
    QCoreApplication::processEvents(); // the first scan queued at construction: not needed now
    const std::optional<NTFSDisk> disk = listed(manager, mount ? g_scene->freeNode() : g_scene->hungNode());
    if (!disk || (!mount && !disk->mountPoint)) {
        state.SkipWithError("the bench volumes are not in the scan as set up");
        return;
    }
    double gaps = 0;
    QString ending;
    for (auto _ : state) {
        state.PauseTiming();
        if (!g_scene->hang()) {
            g_scene->resume();
            state.SkipWithError("a stat of the stopped ntfs-3g mount did not hang");
            break;
        }
        state.ResumeTiming();
        std::optional<DiskError> error;
        const double gap = longestGap([&]() -> QCoro::Task<> {
            if (mount)
                error = co_await manager.mountReadWrite(*disk, kNtfs3g);
            else
                error = co_await manager.unmount(*disk);
        });
        state.PauseTiming();
        g_scene->resume();
        offloop::blockingPool().waitForDone(30000); // the stats that hung answer now
        ending = error ? error->description : QStringLiteral("success");
        std::fprintf(stderr, "hung_mount_bench: %s: gap %.1f ms, ended with: %s\n%s\n", mount ? "mountReadWrite" : "unmount",
                     gap, qPrintable(ending), error ? qPrintable(error->explanation) : "");
        gaps += gap;
        state.ResumeTiming();
    }
    state.counters["gap_ms"] = benchmark::Counter(gaps, benchmark::Counter::kAvgIterations);
    state.SetLabel(ending.toStdString());
}

} // namespace

BENCHMARK_CAPTURE(BM_HungMountGap, mountReadWrite, true)->Unit(benchmark::kMillisecond)->UseRealTime()
    ->Iterations(1)->Repetitions(3)->ReportAggregatesOnly(true);
BENCHMARK_CAPTURE(BM_HungMountGap, unmount, false)->Unit(benchmark::kMillisecond)->UseRealTime()
    ->Iterations(1)->Repetitions(3)->ReportAggregatesOnly(true);

int main(int argc, char **argv)
{
    // The daemon started here inherits no file of the caller's: a lock held open by a stopped
    // daemon would outlast this process.
    ::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
    QCoreApplication app(argc, argv);
    if (::geteuid() != 0) {
        std::fprintf(stderr, "hung_mount_bench: needs root for loop devices and mounts\n");
        return 1;
    }
    if (::access("/dev/fuse", R_OK | W_OK) != 0 || ::access(qPrintable(kNtfs3g), X_OK) != 0) {
        std::fprintf(stderr, "hung_mount_bench: needs /dev/fuse and %s\n", qPrintable(kNtfs3g));
        return 1;
    }
    Scene scene;
    if (!scene.ready()) {
        std::fprintf(stderr, "hung_mount_bench: could not set up the two NTFS volumes and the mount\n");
        return 1;
    }
    g_scene = &scene;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
