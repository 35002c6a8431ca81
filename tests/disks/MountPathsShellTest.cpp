#include "support/MountPathsThroughShell.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

TEST(MountPaths, HostileNamesCreateExactlyTheirDirectoryThroughARealShell)
{
    const QString hostile[] = {
        R"(quo"te)", "$(touch pwned)", "`touch pwned2`", R"(back\slash)", "new\nline", "..", ".", "",
        "../escape", "a/../../b", "$HOME", R"(\"; touch pwned3; echo \")", "'single'", "*", "-rf",
        QString::fromUtf8("データ ボリューム"), QString(255, QChar('x')), QString::fromUtf8("nul\0byte", 8),
    };
    for (const QString &name : hostile)
        for (const int variant : {0, 2})
            EXPECT_EQ(testsupport::mountPathsProblem(name, variant), std::nullopt) << name.toStdString();
}
