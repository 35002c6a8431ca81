// Responsiveness: the longest gap a 1 ms timer on the event loop sees while each model
// operation runs against a runner whose every command takes 300 ms. One frame is 16 ms.
#include "EventLoopGap.h"
#include "dependencies/DependencyChecker.h"
#include "disks/DiskManager.h"
#include "support/ScriptedFileProbe.h"
#include "support/ScriptedRunner.h"

#include <QCoreApplication>
#include <QThread>

#include <benchmark/benchmark.h>

#include <functional>
#include <string>
#include <vector>

namespace {

// A runner whose commands all take 300 ms: awaited ones on a timer, blocking ones by sleeping.
class SlowRunner : public ScriptedRunner {
public:
    SlowRunner()
    {
        setAsyncDelay(std::chrono::milliseconds(300));
        setHandler([](const Call &call) -> std::optional<ShellResult> {
            if (call.line.startsWith("/usr/sbin/diskutil list"))
                return ok(QString::fromUtf8(kListing));
            if (call.line.startsWith("/usr/sbin/diskutil info"))
                return ok(QStringLiteral("<plist><dict><key>VolumeName</key><string>Data</string></dict></plist>"));
            return std::nullopt;
        });
    }
    ShellResult run(const QString &command, const QStringList &arguments) override
    {
        QThread::msleep(300);
        return ScriptedRunner::run(command, arguments);
    }
    static constexpr const char *kListing =
        "<plist><dict><key>AllDisksAndPartitions</key><array><dict><key>DeviceIdentifier</key>"
        "<string>disk4</string><key>Partitions</key><array><dict><key>Content</key><string>Windows_NTFS"
        "</string><key>DeviceIdentifier</key><string>disk4s1</string><key>Size</key><integer>1000"
        "</integer></dict></array></dict></array></dict></plist>";
};

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const Platform profile = Platform::macOS();
    auto runner = std::make_shared<SlowRunner>();
    auto files = std::make_shared<ScriptedFileProbe>();
    // Homebrew and the FUSE uninstall script present, so every sequence runs its commands.
    files->existing = {profile.homebrewPaths.first(), profile.fuseUninstallScript};
    DiskManager disks(profile, runner, files);
    DependencyChecker checker(profile, runner, files);
    QCoro::waitFor(disks.scanDisks());
    const NTFSDisk disk{"disk4s1", "Data", 1000, QString("/Volumes/Data"), false, "ntfs"};

    const std::vector<std::pair<std::string, std::function<QCoro::Task<>()>>> operations = {
        {"scanDisks", [&]() -> QCoro::Task<> { co_await disks.scanDisks(); }},
        {"mountReadWrite", [&]() -> QCoro::Task<> { co_await disks.mountReadWrite(disk, "/opt/homebrew/bin/ntfs-3g"); }},
        {"unmount", [&]() -> QCoro::Task<> { co_await disks.unmount(disk); }},
        {"installDependencies", [&]() -> QCoro::Task<> { co_await checker.installDependencies(); }},
        {"uninstallDependencies", [&]() -> QCoro::Task<> { co_await checker.uninstallDependencies(); }},
    };
    // One operation per iteration; its time is the operation's, the gap a counter beside it.
    for (const auto &[name, operation] : operations) {
        benchmark::RegisterBenchmark(("BM_LongestGap/" + name).c_str(), [operation = operation](benchmark::State &state) {
            for (auto _ : state)
                state.counters["gap_ms"] = longestGap(operation);
        })->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1)->Repetitions(5)->ReportAggregatesOnly(true);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
