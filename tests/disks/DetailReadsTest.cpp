// The detail reads of a scan through the real runner, against a disk utility written in sh:
// they overlap, a bounded number at a time, and still give records and log lines in listing order.
#include "disks/DiskManager.h"
#include "support/PlistFixtures.h"
#include "shell/HelperShell.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace fixtures;

namespace {

void write(const QString &path, const QByteArray &content)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
    file.write(content);
}

// `diskutil info` logs "+ ID" when it starts and "- ID" when it ends. disk1s1 does not end before
// disk1s2 has started (or ten seconds have passed); the others take a little while.
const QByteArray kDiskutil = R"(dir=$(dirname "$0")
case "$1" in
list) cat "$dir/listing" ;;
info)
  echo "+ $3" >> "$dir/log"
  if [ "$3" = disk1s1 ]; then
    i=0
    while [ ! -e "$dir/started-disk1s2" ] && [ $i -lt 200 ]; do sleep 0.05; i=$((i+1)); done
  else
    sleep 0.1
  fi
  [ "$3" = disk1s5 ] && sleep 0.3
  touch "$dir/started-$3"
  echo "- $3" >> "$dir/log"
  cat "$dir/$3" 2>/dev/null || { echo "Could not find disk: $3" >&2; exit 1; }
esac
)";

TEST(DetailReads, OverlapBoundedYetRecordsAndLogLinesKeepTheListingOrder)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ASSERT_TRUE(testsupport::writeScript(dir.filePath("diskutil"), kDiskutil));
    QStringList partitions;
    for (int i = 1; i <= 8; ++i)
        partitions << partition(QString("disk1s%1").arg(i), i * 1000, "Windows_NTFS");
    write(dir.filePath("listing"), listing({dict({{"DeviceIdentifier", str("disk1")}, {"Partitions", array(partitions)}})}));
    // disk1s3 has no detail (the read fails); disk1s5 and disk1s7 answer with broken ones, and
    // disk1s7 is done long before disk1s5.
    for (int i : {1, 2, 4, 6, 8})
        write(dir.filePath(QString("disk1s%1").arg(i)), detail({{"VolumeName", str(QString("Volume %1").arg(i))}}));
    write(dir.filePath("disk1s5"), "<plist><dict><key>VolumeName");
    write(dir.filePath("disk1s7"), "<plist><dict><key>Size");

    Platform profile = testsupport::linuxProfile();
    profile.diskutil = dir.filePath("diskutil");
    profile.mountListing = "/bin/true";
    testing::internal::CaptureStdout();
    DiskManager manager(profile, std::make_shared<HelperShell>(profile), std::make_shared<SystemFileProbe>());
    testsupport::await(manager.scanDisks());
    const QString log = QString::fromStdString(testing::internal::GetCapturedStdout());

    QStringList names;
    for (const NTFSDisk &disk : manager.disks())
        names << disk.deviceNode + "=" + disk.volumeName;
    EXPECT_EQ(names, QStringList({"disk1s1=Volume 1", "disk1s2=Volume 2", "disk1s4=Volume 4", "disk1s6=Volume 6",
                                  "disk1s8=Volume 8"}));
    EXPECT_EQ(manager.disks().value(2).size, 4000);
    const QStringList logLines = log.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(logLines.size(), 2) << log.toStdString();
    EXPECT_TRUE(logLines[0].startsWith("Detail plist parse error for disk1s5: ")) << log.toStdString();
    EXPECT_TRUE(logLines[1].startsWith("Detail plist parse error for disk1s7: ")) << log.toStdString();

    QFile file(dir.filePath("log"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QStringList events = QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
    EXPECT_EQ(events.size(), 16);
    // disk1s2 started while disk1s1 was still running.
    EXPECT_LT(events.indexOf("+ disk1s2"), events.indexOf("- disk1s1")) << events.join(", ").toStdString();
    int running = 0, most = 0;
    for (const QString &event : events) {
        running += event.startsWith('+') ? 1 : -1;
        most = std::max(most, running);
    }
    EXPECT_LE(most, HelperShell::concurrency()) << events.join(", ").toStdString();
    EXPECT_EQ(running, 0);
}

// runEach gives what run gives, command by command: output, the stream chosen, exit status,
// a signal, text that is not UTF-8, and a shell that cannot start.
TEST(DetailReads, RunEachAnswersLikeRunInTheCommandsOrder)
{
    const QList<CommandRunner::Command> commands = {
        {"printf", {"'out\\n'"}},
        {"printf", {"err", ">&2;", "exit", "3"}},
        {"exit", {"0"}},
        {"kill", {"-9", "$$"}},
        {"printf", {"'\\377'"}},
        {"printf", {"' '; printf", "err", ">&2"}},
    };
    Platform profile = testsupport::linuxProfile();
    for (const QString &shell : {QString("/bin/sh"), QString("/nonexistent/sh")}) {
        SCOPED_TRACE(shell.toStdString());
        profile.shell = shell;
        HelperShell runner(profile);
        QList<ShellResult> one;
        for (const CommandRunner::Command &command : commands)
            one << runner.run(command.command, command.arguments);
        EXPECT_EQ(runner.runEach(commands), one);
        EXPECT_TRUE(runner.runEach({}).isEmpty());
    }
    EXPECT_EQ(HelperShell(testsupport::linuxProfile()).runEach(commands).value(3).exitCode, 9);
}

} // namespace
