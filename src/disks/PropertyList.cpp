#include "disks/PropertyList.h"

#include <QDateTime>
#include <QVariantList>
#include <QVariantMap>

#include <plist/plist.h>

#include <cstdlib>
#include <limits>
#include <memory>

namespace PropertyList {
namespace {

struct PlistDeleter {
    void operator()(plist_t node) const { plist_free(node); }
};
using PlistPtr = std::unique_ptr<std::remove_pointer_t<plist_t>, PlistDeleter>;

// Guards against hostile nesting blowing the stack.
constexpr int kMaxDepth = 256;

QString takeString(char *raw)
{
    QString text = raw ? QString::fromUtf8(raw) : QString();
    std::free(raw);
    return text;
}

std::optional<QVariant> convert(plist_t node, int depth)
{
    if (!node || depth > kMaxDepth)
        return std::nullopt;
    switch (plist_get_node_type(node)) {
    case PLIST_DICT: {
        QVariantMap map;
        plist_dict_iter it = nullptr;
        plist_dict_new_iter(node, &it);
        for (;;) {
            char *key = nullptr;
            plist_t value = nullptr;
            plist_dict_next_item(node, it, &key, &value);
            if (!value) {
                std::free(key);
                break;
            }
            const QString name = takeString(key);
            auto converted = convert(value, depth + 1);
            if (!converted) {
                std::free(it);
                return std::nullopt;
            }
            map.insert(name, *converted);
        }
        std::free(it);
        return QVariant(map);
    }
    case PLIST_ARRAY: {
        QVariantList list;
        const uint32_t count = plist_array_get_size(node);
        list.reserve(qsizetype(count));
        for (uint32_t i = 0; i < count; ++i) {
            auto converted = convert(plist_array_get_item(node, i), depth + 1);
            if (!converted)
                return std::nullopt;
            list.append(*converted);
        }
        return QVariant(list);
    }
    case PLIST_STRING: {
        // By pointer and length: a string may hold NUL bytes, which the copying getter
        // asserts against.
        uint64_t length = 0;
        const char *value = plist_get_string_ptr(node, &length);
        return QVariant(value ? QString::fromUtf8(value, qsizetype(length)) : QString());
    }
    case PLIST_KEY: {
        // A stray <key> where a value belongs: kept as something no key accepts.
        char *value = nullptr;
        plist_get_key_val(node, &value);
        std::free(value);
        return QVariant(QVariant::fromValue(nullptr));
    }
    case PLIST_BOOLEAN: {
        uint8_t value = 0;
        plist_get_bool_val(node, &value);
        return QVariant(value != 0);
    }
    case PLIST_UINT: {
        uint64_t value = 0;
        plist_get_uint_val(node, &value);
        if (value > uint64_t(std::numeric_limits<qint64>::max()))
            return QVariant(quint64(value));
        return QVariant(qint64(value));
    }
    case PLIST_REAL: {
        double value = 0;
        plist_get_real_val(node, &value);
        return QVariant(value);
    }
    case PLIST_DATA: {
        char *value = nullptr;
        uint64_t length = 0;
        plist_get_data_val(node, &value, &length);
        QByteArray bytes(value, qsizetype(length));
        std::free(value);
        return QVariant(bytes);
    }
    case PLIST_DATE:
        return QVariant(QDateTime());
    default:
        // UIDs and the like: kept as something no key accepts.
        return QVariant(QVariant::fromValue(nullptr));
    }
}

} // namespace

ParseResult parse(const QByteArray &data)
{
    if (data.isEmpty())
        return {std::nullopt, QStringLiteral("The data is empty, so it is not a property list.")};
    if (quint64(data.size()) > std::numeric_limits<uint32_t>::max())
        return {std::nullopt, QStringLiteral("The data is too large for a property list.")};
    plist_t raw = nullptr;
    plist_from_memory(data.constData(), uint32_t(data.size()), &raw);
    PlistPtr root(raw);
    if (!root)
        return {std::nullopt, QStringLiteral("The data is not a valid XML or binary property list.")};
    auto converted = convert(root.get(), 0);
    if (!converted)
        return {std::nullopt, QStringLiteral("The property list is nested too deeply.")};
    return {converted, QString()};
}

std::optional<QString> text(const QVariantMap &dict, const QString &key)
{
    const auto it = dict.constFind(key);
    if (it == dict.constEnd() || it->typeId() != QMetaType::QString)
        return std::nullopt;
    return it->toString();
}

std::optional<qint64> integer(const QVariantMap &dict, const QString &key)
{
    const auto it = dict.constFind(key);
    if (it == dict.constEnd() || it->typeId() != QMetaType::LongLong)
        return std::nullopt;
    return it->toLongLong();
}

std::optional<bool> boolean(const QVariantMap &dict, const QString &key)
{
    const auto it = dict.constFind(key);
    if (it == dict.constEnd() || it->typeId() != QMetaType::Bool)
        return std::nullopt;
    return it->toBool();
}

std::optional<QList<QVariantMap>> dictionaries(const QVariantMap &dict, const QString &key)
{
    const auto it = dict.constFind(key);
    if (it == dict.constEnd() || it->typeId() != QMetaType::QVariantList)
        return std::nullopt;
    QList<QVariantMap> out;
    for (const QVariant &item : it->toList()) {
        if (item.typeId() != QMetaType::QVariantMap)
            return std::nullopt;
        out.append(item.toMap());
    }
    return out;
}

} // namespace PropertyList
