#include "support/UDisksStack.h"

#include "StandinHarness.h"

#include <QRandomGenerator>

#include <pwd.h>

namespace testsupport {

TestAccount::TestAccount(const QString &tag)
    : name(QStringLiteral("quorvel-") + tag)
    , password(QString::number(QRandomGenerator::global()->generate64(), 36)) // a shell line carries it
{
    const std::string user = name.toStdString();
    standins::testing::step("userdel -r -f " + user + " 2>/dev/null; useradd -m -s /bin/sh " + user + " && echo '"
                            + user + ":" + password.toStdString() + "' | chpasswd");
    const passwd *entry = ::getpwnam(user.c_str());
    uid = entry->pw_uid;
    gid = entry->pw_gid;
    home = QString::fromLocal8Bit(entry->pw_dir);
}

TestAccount::~TestAccount()
{
    standins::testing::sh("userdel -r -f " + name.toStdString() + " 2>/dev/null");
}

} // namespace testsupport
