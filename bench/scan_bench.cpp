// Scan speed: a full scanDisks with 1, 8 and 32 NTFS partitions attached on loop devices,
// against the floor of as many bare `/bin/sh -c /bin/true` children as the scan starts
// (one listing, one detail read per NTFS partition, one mount table), and against one lsblk call.
// The scan sees every NTFS partition of the machine, ours and any other, so the floor counts the
// children a scan really starts rather than assuming only ours.
#include "disks/DiskManager.h"
#include "shell/HelperShell.h"

#include <QCoreApplication>
#include <QCoro/QCoroTask>
#include <QProcess>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

int shell(const std::string &line)
{
    return std::system(line.c_str());
}

// One GPT image with the partitions of the current benchmark; the previous one is detached so
// that every scan sees exactly `count` NTFS partitions of ours.
class Disks {
public:
    ~Disks() { detach(); }
    void detach()
    {
        for (const auto &[count, loop] : m_loops)
            shell("partx -d " + loop + " 2>/dev/null; losetup -d " + loop);
        m_loops.clear();
    }
    // Attaches an image with `count` NTFS partitions and returns its loop device name.
    std::string attach(int count)
    {
        if (auto it = m_loops.find(count); it != m_loops.end())
            return it->second;
        detach();
        const std::string image = m_dir.filePath(QString("disk%1.img").arg(count)).toStdString();
        std::string table = "label: gpt\\n";
        for (int i = 0; i < count; ++i)
            table += ",4M,EBD0A0A2-B9E5-4433-87C0-68B6B72699C7\\n";
        shell("truncate -s " + std::to_string(4 * count + 2) + "M " + image);
        shell("printf '" + table + "' | sfdisk -q --wipe always " + image + " >/dev/null 2>&1");
        FILE *out = ::popen(("losetup -P --show -f " + image).c_str(), "r");
        char buffer[64] = {};
        if (!out || !std::fgets(buffer, sizeof buffer, out))
            std::abort();
        ::pclose(out);
        std::string loop(buffer);
        loop.erase(loop.find_last_not_of("\n") + 1);
        shell("partx -a " + loop + " 2>/dev/null");
        for (int i = 1; i <= count; ++i)
            shell("mkntfs -q -f -Q -L Bench" + std::to_string(i) + " " + loop + "p" + std::to_string(i) + " >/dev/null 2>&1");
        m_loops[count] = loop;
        return loop;
    }

private:
    QTemporaryDir m_dir;
    std::map<int, std::string> m_loops;
};

Disks *g_disks = nullptr;

// Counts the children a scan starts, and starts them through the real runner.
class CountingRunner final : public CommandRunner {
public:
    explicit CountingRunner(const Platform &profile)
        : m_shell(profile)
    {
    }
    int children() const { return m_children; }

    ShellResult run(const QString &command, const QStringList &arguments) override
    {
        ++m_children;
        return m_shell.run(command, arguments);
    }
    QList<ShellResult> runEach(const QList<Command> &commands) override
    {
        m_children += int(commands.size());
        return m_shell.runEach(commands);
    }
    QCoro::Task<ShellResult> runAsync(QString command, QStringList arguments) override
    {
        ++m_children;
        return m_shell.runAsync(std::move(command), std::move(arguments));
    }
    QCoro::Task<ShellResult> runPrivilegedAsync(QString commandLine) override
    {
        ++m_children;
        return m_shell.runPrivilegedAsync(std::move(commandLine));
    }
    void launch(const QString &command, const QStringList &arguments) override
    {
        ++m_children;
        m_shell.launch(command, arguments);
    }

private:
    HelperShell m_shell;
    std::atomic<int> m_children = 0;
};

Platform benchProfile()
{
    Platform p = Platform::linux(QStringLiteral(QUORVEL_BENCH_LIBEXEC));
    p.opener = QStringLiteral("/bin/true");
    return p;
}

// How many children one scan starts with `count` partitions of ours attached, by partition count.
std::map<int, int> g_scanChildren;

// A manager on the benchmark's profile whose runner counts the children it starts.
struct CountedManager {
    std::shared_ptr<CountingRunner> runner;
    std::unique_ptr<DiskManager> manager;

    CountedManager()
    {
        const Platform profile = benchProfile();
        runner = std::make_shared<CountingRunner>(profile);
        manager = std::make_unique<DiskManager>(profile, runner, std::make_shared<SystemFileProbe>());
        QCoro::waitFor(manager->scanDisks()); // the first scan, and the one construction queued, settle
        QCoreApplication::processEvents();
    }
    int childrenOfOneScan()
    {
        const int before = runner->children();
        QCoro::waitFor(manager->scanDisks());
        return runner->children() - before;
    }
};

void BM_Scan(benchmark::State &state)
{
    const int count = int(state.range(0));
    g_disks->attach(count);
    CountedManager counted;
    g_scanChildren[count] = counted.childrenOfOneScan();
    for (auto _ : state)
        QCoro::waitFor(counted.manager->scanDisks());
    state.counters["disks"] = double(counted.manager->disks().size());
}

// The children a scan starts with `count` partitions of ours, counted by a scan of its own when
// BM_Scan did not run.
int scanChildren(int count)
{
    if (!g_scanChildren.contains(count)) {
        g_disks->attach(count);
        g_scanChildren[count] = CountedManager().childrenOfOneScan();
    }
    return g_scanChildren[count];
}

// The floor: as many children as a scan starts, each a bare fork/exec of /bin/sh -c /bin/true.
void BM_ChildFloor(benchmark::State &state)
{
    const int children = scanChildren(int(state.range(0)));
    char sh[] = "/bin/sh", c[] = "-c", truth[] = "/bin/true";
    char *argv[] = {sh, c, truth, nullptr};
    for (auto _ : state) {
        for (int i = 0; i < children; ++i) {
            pid_t pid = 0;
            if (::posix_spawn(&pid, "/bin/sh", nullptr, nullptr, argv, environ) != 0)
                state.SkipWithError("posix_spawn failed");
            int status = 0;
            ::waitpid(pid, &status, 0);
        }
    }
}

// A peer: one lsblk listing of every block device with the same facts.
void BM_Lsblk(benchmark::State &state)
{
    g_disks->attach(int(state.range(0)));
    for (auto _ : state) {
        QProcess lsblk;
        lsblk.start("lsblk", {"-J", "-b", "-o", "NAME,SIZE,FSTYPE,LABEL,MOUNTPOINT"});
        lsblk.waitForFinished(-1);
        benchmark::DoNotOptimize(lsblk.readAllStandardOutput());
    }
}

} // namespace

BENCHMARK(BM_Scan)->Arg(1)->Arg(8)->Arg(32)->Unit(benchmark::kMillisecond)->UseRealTime()
    ->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_ChildFloor)->Arg(1)->Arg(8)->Arg(32)->Unit(benchmark::kMillisecond)->UseRealTime()
    ->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_Lsblk)->Arg(8)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(5)
    ->ReportAggregatesOnly(true);

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (::geteuid() != 0) {
        std::fprintf(stderr, "scan_bench: needs root for loop devices\n");
        return 1;
    }
    Disks disks;
    g_disks = &disks;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
