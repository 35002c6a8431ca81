// Responsiveness: the longest gap a 1 ms timer on the event loop sees while each model
// operation runs against a runner whose every command takes 300 ms. One frame is 16 ms.
#include "dependencies/DependencyChecker.h"
#include "disks/DiskManager.h"
#include "support/ScriptedFileProbe.h"
#include "support/ScriptedRunner.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
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

// The longest pause of a 1 ms timer while `operation` runs, in milliseconds.
double longestGap(const std::function<QCoro::Task<>()> &operation)
{
    QElapsedTimer clock;
    clock.start();
    qint64 last = clock.nsecsElapsed();
    qint64 longest = 0;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        longest = std::max(longest, now - last);
        last = now;
    });
    ticker.start(1);
    last = clock.nsecsElapsed();
    QCoro::waitFor(operation());
    const qint64 now = clock.nsecsElapsed();
    longest = std::max(longest, now - last);
    return double(longest) / 1e6;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

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

    const std::vector<std::pair<const char *, std::function<QCoro::Task<>()>>> operations = {
        {"scanDisks", [&]() -> QCoro::Task<> { co_await disks.scanDisks(); }},
        {"mountReadWrite", [&]() -> QCoro::Task<> { co_await disks.mountReadWrite(disk, "/opt/homebrew/bin/ntfs-3g"); }},
        {"unmount", [&]() -> QCoro::Task<> { co_await disks.unmount(disk); }},
        {"installDependencies", [&]() -> QCoro::Task<> { co_await checker.installDependencies(); }},
        {"uninstallDependencies", [&]() -> QCoro::Task<> { co_await checker.uninstallDependencies(); }},
    };
    std::printf("%-24s %18s %8s\n", "operation", "longest gap (ms)", "target");
    for (const auto &[name, operation] : operations) {
        std::vector<double> gaps;
        for (int i = 0; i < 5; ++i)
            gaps.push_back(longestGap(operation));
        std::printf("%-24s %18.2f %8s\n", name, median(gaps), "16");
    }
    return 0;
}
