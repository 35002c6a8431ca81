// The disk model on udisks2, on a udisks2 stack of the benchmark's own (tests/support/UDisksStack.h)
// and a loop disk of 8 NTFS partitions: a full scan (and a model's first one) against one `lsblk -J`
// run, and a read-write
// mount and unmount through the model against `udisksctl mount -b` and `udisksctl unmount -b`
// run directly on the same volume.
#include "StandinHarness.h"
#include "disks/DiskManager.h"
#include "shell/HelperShell.h"
#include "support/UDisksStack.h"

#include <QCoreApplication>
#include <QCoro/QCoroTask>

#include <benchmark/benchmark.h>

#include <csignal>
#include <cstdio>

#include <spawn.h>
#include <sys/wait.h>

extern char **environ;

using namespace standins::testing;
using testsupport::UDisksStack;

namespace {

constexpr int kPartitions = 8;
std::string g_loop;

int spawn(std::vector<std::string> words)
{
    std::vector<char *> argv;
    for (std::string &word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (::posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        return -1;
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::unique_ptr<DiskManager> model()
{
    Platform profile = Platform::linux(QStringLiteral(QUORVEL_BENCH_LIBEXEC));
    profile.opener = QStringLiteral("/bin/true"); // started as the application starts its opener
    auto manager = std::make_unique<DiskManager>(ModelEnvironment{profile, std::make_shared<HelperShell>(profile),
                                                                  std::make_shared<SystemFileProbe>(),
                                                                  UDisksStack::shared().bus()});
    QCoro::waitFor(manager->scanDisks());
    QCoreApplication::processEvents(); // the scan queued at construction finds one running
    return manager;
}

std::optional<NTFSDisk> first(const DiskManager &manager)
{
    for (const NTFSDisk &disk : manager.disks())
        if (disk.deviceNode == QString::fromStdString(g_loop + "p1"))
            return disk;
    return std::nullopt;
}

void BM_UDisksScan(benchmark::State &state)
{
    const auto manager = model();
    for (auto _ : state)
        QCoro::waitFor(manager->scanDisks());
    state.counters["disks"] = double(manager->disks().size());
}

// The first scan of a model, which reads udisks2's whole object tree; later ones read the tree as
// the service's signals keep it.
void BM_UDisksFirstScan(benchmark::State &state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(model());
}

void BM_LsblkJson(benchmark::State &state)
{
    for (auto _ : state)
        if (spawn({"lsblk", "-J"}) != 0)
            state.SkipWithError("lsblk -J failed");
}

void BM_UDisksModelMountUnmount(benchmark::State &state)
{
    const auto manager = model();
    for (auto _ : state) {
        const std::optional<DiskError> mounted = QCoro::waitFor(manager->mountReadWrite(*first(*manager), {}));
        const std::optional<DiskError> unmounted = QCoro::waitFor(manager->unmount(*first(*manager)));
        if (mounted || unmounted) {
            state.SkipWithError(qPrintable((mounted ? mounted : unmounted)->description));
            break;
        }
        // Signals of the change come in after the reply; their rescan belongs to this iteration.
        QCoreApplication::processEvents();
    }
}

void BM_UdisksctlMountUnmount(benchmark::State &state)
{
    const std::string device = "/dev/" + g_loop + "p1";
    for (auto _ : state)
        if (spawn({"udisksctl", "mount", "--no-user-interaction", "-b", device}) != 0
            || spawn({"udisksctl", "unmount", "--no-user-interaction", "-b", device}) != 0) {
            state.SkipWithError("udisksctl failed");
            break;
        }
}

} // namespace

BENCHMARK(BM_UDisksScan)->Arg(kPartitions)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_UDisksFirstScan)->Arg(kPartitions)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_LsblkJson)->Arg(kPartitions)->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_UDisksModelMountUnmount)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10)
    ->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_UdisksctlMountUnmount)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10)
    ->Repetitions(5)->ReportAggregatesOnly(true);

int main(int argc, char **argv)
{
    UDisksStack::prepareProcess();
    QCoreApplication app(argc, argv);
    if (const QString why = UDisksStack::skipReason(); !why.isEmpty()) {
        std::fprintf(stderr, "udisks_bench: %s\n", qPrintable(why));
        return 1;
    }
    int status = 0;
    {
        TempDir dir;
        try {
            std::string table = "label: gpt\\n";
            QStringList types;
            for (int i = 0; i < kPartitions; ++i) {
                table += ",4M,EBD0A0A2-B9E5-4433-87C0-68B6B72699C7\\n";
                types << QStringLiteral("ntfs");
            }
            step("truncate -s 40M " + dir / "disk.img" + " && printf '" + table + "' | sfdisk -q " + dir / "disk.img");
            g_loop = attachLoop(dir / "disk.img", kPartitions);
            for (int i = 1; i <= kPartitions; ++i)
                step("mkntfs -Q -q -L Bench" + std::to_string(i) + " /dev/" + g_loop + "p" + std::to_string(i));
            UDisksStack::shared().settle(g_loop, types);
            benchmark::Initialize(&argc, argv);
            benchmark::RunSpecifiedBenchmarks();
            benchmark::Shutdown();
        } catch (const std::exception &error) {
            std::fprintf(stderr, "udisks_bench: %s\n", error.what());
            status = 1;
        }
        removeWhere(under(dir.path()));
    }
    UDisksStack::stopShared();
    return status;
}
