#pragma once

// Small builders for the disk utility's XML property lists.
#include <QByteArray>
#include <QString>
#include <QStringList>

#include <initializer_list>
#include <utility>

namespace fixtures {

inline QString str(QString text)
{
    return "<string>" + text.replace('&', "&amp;").replace('<', "&lt;").replace('>', "&gt;") + "</string>";
}
inline QString array(const QStringList &items) { return "<array>" + items.join("") + "</array>"; }
inline QString dict(std::initializer_list<std::pair<QString, QString>> entries)
{
    QString out = "<dict>";
    for (const auto &[key, value] : entries)
        out += "<key>" + key + "</key>" + value;
    return out + "</dict>";
}
inline QByteArray plist(const QString &root)
{
    return ("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
            "<plist version=\"1.0\">\n" + root + "\n</plist>\n").toUtf8();
}
inline QString partition(const QString &id, qint64 size, const QString &content)
{
    return dict({{"Content", str(content)}, {"DeviceIdentifier", str(id)}, {"Size", "<integer>" + QString::number(size) + "</integer>"}});
}
inline QByteArray listing(const QStringList &disks)
{
    return plist(dict({{"AllDisksAndPartitions", array(disks)}, {"AllDisks", array({})}}));
}

inline QByteArray detail(std::initializer_list<std::pair<QString, QString>> entries)
{
    return plist(dict(entries));
}

} // namespace fixtures
