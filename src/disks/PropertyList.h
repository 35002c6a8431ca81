#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>

#include <optional>

// Property lists (XML or binary) read into a tree of QVariantMap (dictionaries), QVariantList
// (arrays), QString, qint64, bool; other values keep types nothing asks for (double, QByteArray,
// QDateTime). An integer outside the signed 64-bit range becomes a quint64, so it never passes
// for a size.
namespace PropertyList {

struct ParseResult {
    std::optional<QVariant> root;
    QString error; // set when root is absent
};

ParseResult parse(const QByteArray &data);

// Typed look-ups: nothing when the key is missing or holds another type.
std::optional<QString> text(const QVariantMap &dict, const QString &key);
std::optional<qint64> integer(const QVariantMap &dict, const QString &key);
std::optional<bool> boolean(const QVariantMap &dict, const QString &key);
// A list whose every element is a dictionary.
std::optional<QList<QVariantMap>> dictionaries(const QVariantMap &dict, const QString &key);

} // namespace PropertyList
