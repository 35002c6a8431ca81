// Scan speed: a full scanDisks with 1, 8 and 32 NTFS partitions attached on loop devices,
// against the floor of as many bare `/bin/sh -c /bin/true` children as the scan starts
// (one listing, one detail read per partition, one mount table), and against one lsblk call.
#include "disks/DiskManager.h"
#include "shell/HelperShell.h"

#include <QCoreApplication>
#include <QCoro/QCoroTask>
#include <QProcess>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

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

Platform benchProfile()
{
    Platform p = Platform::linux(QStringLiteral(QUORVEL_BENCH_LIBEXEC));
    p.opener = QStringLiteral("/bin/true");
    return p;
}

void BM_Scan(benchmark::State &state)
{
    const int count = int(state.range(0));
    g_disks->attach(count);
    const Platform profile = benchProfile();
    DiskManager manager(profile, std::make_shared<HelperShell>(profile), std::make_shared<SystemFileProbe>());
    QCoro::waitFor(manager.scanDisks()); // the first scan, and the one construction queued, settle
    QCoreApplication::processEvents();
    for (auto _ : state)
        QCoro::waitFor(manager.scanDisks());
    state.counters["disks"] = double(manager.disks().size());
}

// The floor: as many children as a scan starts, each a bare fork/exec of /bin/sh -c /bin/true.
void BM_ChildFloor(benchmark::State &state)
{
    const int children = int(state.range(0)) + 2;
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
