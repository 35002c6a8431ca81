// The runner's own cost: HelperShell::run of `true` (blocking and awaited) against a bare
// posix_spawn of `/bin/sh -c true` and its wait.
#include "shell/HelperShell.h"

#include <QCoreApplication>

#include <benchmark/benchmark.h>

#include <spawn.h>
#include <sys/wait.h>

extern char **environ;

namespace {

Platform profile()
{
    return Platform::linux(QStringLiteral(QUORVEL_BENCH_LIBEXEC));
}

void BM_BareSpawn(benchmark::State &state)
{
    char sh[] = "/bin/sh", c[] = "-c", truth[] = "true";
    char *argv[] = {sh, c, truth, nullptr};
    for (auto _ : state) {
        pid_t pid = 0;
        if (::posix_spawn(&pid, "/bin/sh", nullptr, nullptr, argv, environ) != 0)
            state.SkipWithError("posix_spawn failed");
        int status = 0;
        ::waitpid(pid, &status, 0);
    }
}

void BM_RunBlocking(benchmark::State &state)
{
    HelperShell shell(profile());
    for (auto _ : state)
        benchmark::DoNotOptimize(shell.run(QStringLiteral("true"), {}));
}

void BM_RunAwaited(benchmark::State &state)
{
    HelperShell shell(profile());
    for (auto _ : state)
        benchmark::DoNotOptimize(QCoro::waitFor(shell.runAsync(QStringLiteral("true"), {})));
}

} // namespace

BENCHMARK(BM_BareSpawn)->Unit(benchmark::kMicrosecond)->UseRealTime()->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_RunBlocking)->Unit(benchmark::kMicrosecond)->UseRealTime()->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_RunAwaited)->Unit(benchmark::kMicrosecond)->UseRealTime()->Repetitions(5)->ReportAggregatesOnly(true);

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
