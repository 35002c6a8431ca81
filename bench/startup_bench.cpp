// Start-up: from starting the application to its "startup complete" line (the main window on
// screen with the first scan's result), and the application's resident memory five seconds
// later. Needs a display (scripts/bench provides Xvfb, a tray host and a session bus).
#include <benchmark/benchmark.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kReadyTimeout = std::chrono::seconds(30);
constexpr auto kSettle = std::chrono::seconds(5);

// One running application with its standard output on a pipe; ended on destruction.
class Application {
public:
    Application()
    {
        int pipeFds[2];
        if (::pipe2(pipeFds, O_CLOEXEC) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        char program[] = QUORVEL_BENCH_APP;
        char *argv[] = {program, nullptr};
        started = Clock::now();
        if (::posix_spawn(&m_pid, program, &actions, nullptr, argv, environ) != 0)
            m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(pipeFds[1]);
        m_out = pipeFds[0];
    }
    ~Application()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            int status = 0;
            ::waitpid(m_pid, &status, 0);
        }
        if (m_out >= 0)
            ::close(m_out);
    }

    // When the "startup complete" line arrived; nothing when the application ended or stayed
    // silent for too long.
    std::optional<Clock::time_point> waitForMark()
    {
        std::string seen;
        const Clock::time_point deadline = Clock::now() + kReadyTimeout;
        while (m_pid > 0 && Clock::now() < deadline) {
            pollfd fd{m_out, POLLIN, 0};
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (::poll(&fd, 1, int(left.count())) <= 0)
                continue;
            char buffer[4096];
            const ssize_t got = ::read(m_out, buffer, sizeof buffer);
            if (got <= 0)
                return std::nullopt;
            seen.append(buffer, size_t(got));
            if (seen.find("startup complete\n") != std::string::npos)
                return Clock::now();
        }
        return std::nullopt;
    }

    // VmRSS in MiB, or a negative number when it cannot be read.
    double residentMiB() const
    {
        std::ifstream status("/proc/" + std::to_string(m_pid) + "/status");
        std::string line;
        while (std::getline(status, line))
            if (line.rfind("VmRSS:", 0) == 0)
                return std::strtod(line.c_str() + 6, nullptr) / 1024.0; // kB
        return -1;
    }

    Clock::time_point started;

private:
    pid_t m_pid = -1;
    int m_out = -1;
};

void BM_StartUp(benchmark::State &state)
{
    for (auto _ : state) {
        Application app;
        const auto mark = app.waitForMark();
        if (!mark) {
            state.SkipWithError("the application did not report a complete start-up");
            break;
        }
        state.SetIterationTime(std::chrono::duration<double>(*mark - app.started).count());
        std::this_thread::sleep_for(kSettle);
        state.counters["rss_mib"] = app.residentMiB();
    }
}

} // namespace

BENCHMARK(BM_StartUp)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1)->Repetitions(5)
    ->ReportAggregatesOnly(true);

int main(int argc, char **argv)
{
    if (!std::getenv("DISPLAY")) {
        std::fprintf(stderr, "startup_bench: needs a display (DISPLAY is not set)\n");
        return 1;
    }
    ::setenv("QUORVEL_STARTUP_MARK", "1", 1);
    // One start first, unmeasured: it brings the libraries and fonts into the page cache.
    {
        Application warmUp;
        if (!warmUp.waitForMark()) {
            std::fprintf(stderr, "startup_bench: %s did not report a complete start-up\n", QUORVEL_BENCH_APP);
            return 1;
        }
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
