#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

namespace testsupport {

// Writes an executable shell script, "#!/bin/sh" and then `body`; whether that worked.
inline bool writeScript(const QString &path, const QByteArray &body)
{
    QFile file(path);
    const QByteArray text = "#!/bin/sh\n" + body;
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size() && file.flush()
        && file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

} // namespace testsupport
