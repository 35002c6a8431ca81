// The holders of a volume from a planted /proc tree: which names count as being on the volume, and
// whose programs are named rather than counted.
#include "disks/VolumeHolders.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <unistd.h>

TEST(VolumeHoldersTest, NamesTheUsersProgramsWithAnythingOnTheVolumeAndCountsTheOthers)
{
    QTemporaryDir proc;
    const auto plant = [&](const QString &pid, uint uid, const QStringList &links, const QString &maps = {}) {
        const QString dir = proc.path() + "/" + pid + "/";
        QDir().mkpath(dir + "fd");
        for (const auto &[name, text] : {std::pair{"status", QString("Name:\tx\nUid:\t%1\t0\t0\t0\n").arg(uid)},
                                         std::pair{"comm", "c" + pid + "\n"}, std::pair{"maps", maps}}) {
            QFile file(dir + name);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(text.toUtf8()) >= 0);
        }
        for (const QString &link : links)
            ASSERT_EQ(::symlink(QFile::encodeName(link.section('=', 1)), QFile::encodeName(dir + link.section('=', 0, 0))), 0);
    };
    const uint me = ::getuid(), other = me + 1;
    plant("10", me, {"cwd=/media/Data"});
    plant("11", me, {"cwd=/", "fd/0=/dev/null", "fd/4=/media/Data/a/b.txt (deleted)"});
    plant("12", me, {}, "7f00-7f01 r--p 00000000 00:00 0  [heap]\n7f01-7f02 r-xp 00000000 00:2a 17   /media/Data/lib x.so\n");
    // Directories that only start like the volume's.
    plant("13", me, {"cwd=/media/Data 2", "root=/", "fd/3=/media/DataX/f"}, "7f00-7f01 r--p 0 00:2a 17 /media/Data2/y\n");
    plant("14", other, {"cwd=/media/Data/x"});
    plant("15", other, {"exe=/media/Data/bin/tool"});
    plant("self", me, {"cwd=/media/Data"});
    plant("16", me, {"cwd=/media/Data"});
    QFile::remove(proc.path() + "/16/status"); // unreadable: left out

    const FailureAdvice::Holders holders = VolumeHolders::fromProc("/media/Data/", proc.path());
    EXPECT_EQ(holders.named, (QList<FailureAdvice::Holder>{{10, "c10"}, {11, "c11"}, {12, "c12"}}));
    EXPECT_EQ(holders.othersCount, 2);
}
