// The udisks2 harness end to end, without the application's code: a throw-away account mounts
// and unmounts a loop NTFS volume through a real udisksd, and the polkit prompts on the way are
// answered with the account's own password, as a desktop user would.
#include "StandinHarness.h"
#include "support/PromptAgent.h"
#include "support/TestSupport.h"
#include "support/UDisksStack.h"

#include <gtest/gtest.h>

#include <iostream>

using namespace standins::testing;
using namespace testsupport;

namespace {

TEST(UDisksHarness, PromptsAsForADesktopUser)
{
    if (const QString why = UDisksStack::skipReason(); !why.isEmpty())
        GTEST_SKIP() << why.toStdString();
    UDisksStack &stack = UDisksStack::shared();
    TempDir dir;
    struct Cleanup {
        const TempDir &dir;
        ~Cleanup() { removeWhere(under(dir.path())); }
    } cleanup{dir};
    step("truncate -s 64M " + dir / "disk.img" + " && printf 'label: gpt\\n,,EBD0A0A2-B9E5-4433-87C0-68B6B72699C7\\n'"
         " | sfdisk -q " + dir / "disk.img");
    const std::string loop = attachLoop(dir / "disk.img", 1);
    const QString device = QString::fromStdString("/dev/" + loop + "p1");
    step("mkntfs -Q -q -L TestVol " + device.toStdString());
    stack.settle(loop, {QStringLiteral("ntfs")});

    auto client = stack.run(stack.account(), QStringLiteral(QUORVEL_UDISKS_CLIENT));
    ASSERT_NE(client->processId(), 0) << client->errors().toStdString();
    PromptAgent agent(stack.account());
    ASSERT_EQ(agent.start(client->processId()), QString());
    const auto ask = [&](const QString &command) {
        client->writeLine(command);
        return client->nextLine().value_or(QStringLiteral("(no answer) ") + client->errors());
    };

    // pkexec and polkit's helper are setuid: the bus at the standard path, PAM, the admin rule.
    EXPECT_EQ(ask(QStringLiteral("run /usr/bin/pkexec /bin/true")), QStringLiteral("exit 0")) << agent.transcript().toStdString();

    // Root set the loop device up, so udisks2 takes it for a system device: one prompt, kept.
    const QString mounted = ask(QStringLiteral("mount ") + device);
    const QString point = mounted.section(QLatin1Char(' '), 1);
    ASSERT_TRUE(mounted.startsWith(QStringLiteral("mounted /media/%1/").arg(stack.account().name())))
        << mounted.toStdString() << agent.transcript().toStdString();
    EXPECT_EQ(agent.prompts(), 2);
    EXPECT_EQ(ask(QStringLiteral("run /bin/ls ") + point), QStringLiteral("exit 0"));
    auto other = stack.run(stack.otherAccount(), QStringLiteral("/bin/ls"), {point});
    EXPECT_NE(other->finish(), 0);
    EXPECT_TRUE(other->errors().contains(QLatin1String("Permission denied"))) << other->errors().toStdString();

    EXPECT_EQ(ask(QStringLiteral("unmount ") + device), QStringLiteral("unmounted"));
    EXPECT_EQ(ask(QStringLiteral("mount ") + device), mounted);
    EXPECT_EQ(ask(QStringLiteral("unmount ") + device), QStringLiteral("unmounted"));
    EXPECT_EQ(client->finish(), 0) << client->errors().toStdString();

    EXPECT_EQ(agent.prompts(), 2) << agent.transcript().toStdString();
    EXPECT_EQ(agent.actions(), (QStringList{QStringLiteral("org.freedesktop.policykit.exec"),
                                            QStringLiteral("org.freedesktop.udisks2.filesystem-mount-system")}));
    std::cout << "prompts: " << agent.prompts() << " (" << agent.actions().join(QStringLiteral(", ")).toStdString()
              << "); polkit asked about: " << stack.requestedActions().join(QStringLiteral(", ")).toStdString()
              << std::endl;
}

} // namespace
