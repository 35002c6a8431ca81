// Idle cost: the tray application left alone for 60 s once it has started, with udisksd on the
// system bus (the benchmark's own udisks2 stack) and one NTFS partition to list; its wake-ups
// (voluntary context switches of all its threads) over that minute and its resident memory at the
// end, beside udiskie's, a tray automounter, where udiskie is installed. Needs root, a display
// (scripts/bench provides Xvfb, a tray host and a session bus) and the tests' udisks2 stack.
#include "support/UDisksStack.h"

#include "StandinHarness.h"

#include <QCoreApplication>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

using namespace standins::testing;
using testsupport::UDisksStack;

namespace {

using namespace std::chrono_literals;

constexpr auto kIdle = 60s;
const char *const kUdiskie = "/usr/bin/udiskie";

// One running program with its standard output in a file; ended on destruction.
class Program {
public:
    Program(std::vector<std::string> words, std::string output) : m_output(std::move(output))
    {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, m_output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        std::vector<char *> argv;
        for (std::string &word : words)
            argv.push_back(word.data());
        argv.push_back(nullptr);
        if (::posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
            m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Program()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            ::waitpid(m_pid, nullptr, 0);
        }
    }

    bool running() const { return m_pid > 0 && ::waitpid(m_pid, nullptr, WNOHANG) == 0; }

    // Whether `mark` shows up on standard output within 30 s.
    bool waitFor(const std::string &mark) const
    {
        for (int i = 0; i < 300 && running(); ++i) {
            std::ifstream out(m_output);
            const std::string said((std::istreambuf_iterator<char>(out)), std::istreambuf_iterator<char>());
            if (said.find(mark) != std::string::npos)
                return true;
            std::this_thread::sleep_for(100ms);
        }
        return false;
    }

    // Each thread's voluntary_ctxt_switches, by thread id: each is a wake-up from a wait.
    std::map<std::string, long long> switches() const
    {
        std::map<std::string, long long> out;
        std::error_code error;
        for (const auto &task : std::filesystem::directory_iterator("/proc/" + std::to_string(m_pid) + "/task", error)) {
            std::ifstream status(task.path() / "status");
            for (std::string line; std::getline(status, line);)
                if (line.rfind("voluntary_ctxt_switches:", 0) == 0)
                    out[task.path().filename().string()] = std::atoll(line.c_str() + 24);
        }
        return out;
    }

    double residentMiB() const
    {
        std::ifstream status("/proc/" + std::to_string(m_pid) + "/status");
        for (std::string line; std::getline(status, line);)
            if (line.rfind("VmRSS:", 0) == 0)
                return std::strtod(line.c_str() + 6, nullptr) / 1024.0; // kB
        return -1;
    }

private:
    std::string m_output;
    pid_t m_pid = -1;
};

std::string g_scratch;

// Started, given `settle` to finish what start-up set going, then left alone for a minute. The
// threads are looked at every second: one that ends on the way (a pool's idle thread, say) counts
// with what it did until it was last seen, and one wake-up for its end.
void idle(benchmark::State &state, Program &program, std::chrono::seconds settle)
{
    for (auto _ : state) {
        std::this_thread::sleep_for(settle);
        const std::map<std::string, long long> first = program.switches();
        std::map<std::string, long long> last = first, alive = first; // every thread's latest count
        long long wakeUps = 0;
        for (auto left = kIdle; left > 0s; left -= 1s) {
            std::this_thread::sleep_for(1s);
            const std::map<std::string, long long> now = program.switches();
            wakeUps += long(std::ranges::count_if(alive, [&](const auto &thread) { return !now.contains(thread.first); }));
            alive = now;
            for (const auto &[thread, count] : now)
                last[thread] = count;
        }
        if (!program.running()) {
            state.SkipWithError("the program ended while idle");
            return;
        }
        for (const auto &[thread, count] : last)
            wakeUps += count - (first.contains(thread) ? first.at(thread) : 0);
        state.counters["wakeups"] = double(wakeUps);
        state.counters["rss_mib"] = program.residentMiB();
    }
}

void BM_Idle_Application(benchmark::State &state)
{
    Program app({QUORVEL_BENCH_APP}, g_scratch + "/app.out");
    if (!app.waitFor("startup complete\n")) {
        state.SkipWithError("the application did not report a complete start-up");
        return;
    }
    idle(state, app, 5s);
}

void BM_Idle_Udiskie(benchmark::State &state)
{
    if (::access(kUdiskie, X_OK) != 0) {
        state.SkipWithError("udiskie is not installed");
        return;
    }
    // Its tray icon, and nothing mounted or announced on its own.
    Program udiskie({kUdiskie, "--tray", "--no-automount", "--no-notify"}, g_scratch + "/udiskie.out");
    idle(state, udiskie, 10s);
}

} // namespace

BENCHMARK(BM_Idle_Application)->Unit(benchmark::kSecond)->Iterations(1);
BENCHMARK(BM_Idle_Udiskie)->Unit(benchmark::kSecond)->Iterations(1);

int main(int argc, char **argv)
{
    UDisksStack::prepareProcess();
    QCoreApplication app(argc, argv);
    if (!std::getenv("DISPLAY")) {
        std::fprintf(stderr, "idle_bench: needs a display (DISPLAY is not set)\n");
        return 1;
    }
    if (const QString why = UDisksStack::skipReason(); !why.isEmpty()) {
        std::fprintf(stderr, "idle_bench: %s\n", qPrintable(why));
        return 1;
    }
    ::setenv("QUORVEL_STARTUP_MARK", "1", 1);
    int status = 0;
    {
        TempDir dir;
        g_scratch = dir.path();
        try {
            step("truncate -s 40M " + dir / "disk.img" + " && printf 'label: gpt\\n,16M,EBD0A0A2-B9E5-4433-87C0-68B6B72699C7\\n'"
                 " | sfdisk -q " + dir / "disk.img");
            const std::string loop = attachLoop(dir / "disk.img", 1);
            step("mkntfs -Q -q -f -L Idle /dev/" + loop + "p1 >/dev/null 2>&1");
            UDisksStack::shared().settle(loop, {QStringLiteral("ntfs")});
            benchmark::Initialize(&argc, argv);
            benchmark::RunSpecifiedBenchmarks();
            benchmark::Shutdown();
        } catch (const std::exception &error) {
            std::fprintf(stderr, "idle_bench: %s\n", error.what());
            status = 1;
        }
        removeWhere(under(dir.path()));
    }
    UDisksStack::stopShared();
    return status;
}
