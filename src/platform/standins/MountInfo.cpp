#include "MountInfo.h"

#include "Text.h"

#include <charconv>
#include <fstream>
#include <sstream>

namespace standins {

namespace {

std::vector<std::string_view> splitFields(std::string_view line)
{
    std::vector<std::string_view> fields;
    std::size_t start = 0;
    while (start <= line.size()) {
        const auto end = line.find(' ', start);
        const auto piece = line.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
        fields.push_back(piece); // single blanks separate fields; an empty source stays a field
        if (end == std::string_view::npos)
            break;
        start = end + 1;
    }
    return fields;
}

template<typename Int>
bool parseNumber(std::string_view text, Int &value)
{
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    return result.ec == std::errc() && result.ptr == text.data() + text.size();
}

std::string keepOnOneLine(std::string text)
{
    std::string out;
    for (char c : text) {
        if (c == '\n')
            out += "\\012";
        else if (c == '\r')
            out += "\\015";
        else
            out += c;
    }
    return out;
}

} // namespace

bool MountEntry::isReadOnly() const
{
    return hasOption(mountOptions, "ro") || hasOption(superOptions, "ro");
}

bool hasOption(std::string_view options, std::string_view option)
{
    std::size_t start = 0;
    while (start <= options.size()) {
        const auto end = options.find(',', start);
        const auto word = options.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
        if (word == option)
            return true;
        if (end == std::string_view::npos)
            break;
        start = end + 1;
    }
    return false;
}

bool isFuseType(std::string_view fsType)
{
    return fsType.find("fuse") != std::string_view::npos && fsType != "fusectl";
}

std::optional<MountEntry> parseMountInfoLine(std::string_view line)
{
    // id parent major:minor root mount-point options [optional fields…] - fstype source super-options
    const auto fields = splitFields(line);
    if (fields.size() < 10)
        return std::nullopt;
    std::size_t separator = 6;
    while (separator < fields.size() && fields[separator] != "-")
        ++separator;
    if (separator + 3 > fields.size())
        return std::nullopt;

    MountEntry entry;
    const auto colon = fields[2].find(':');
    if (!parseNumber(fields[0], entry.id) || !parseNumber(fields[1], entry.parentId)
        || colon == std::string_view::npos || !parseNumber(fields[2].substr(0, colon), entry.major)
        || !parseNumber(fields[2].substr(colon + 1), entry.minor))
        return std::nullopt;
    entry.root = decodeOctalEscapes(fields[3]);
    entry.mountPoint = decodeOctalEscapes(fields[4]);
    entry.mountOptions = std::string(fields[5]);
    entry.fsType = decodeOctalEscapes(fields[separator + 1]);
    entry.source = decodeOctalEscapes(fields[separator + 2]);
    entry.superOptions = separator + 3 < fields.size() ? std::string(fields[separator + 3]) : std::string();
    return entry;
}

std::vector<MountEntry> parseMountInfo(std::string_view text)
{
    std::vector<MountEntry> entries;
    std::size_t start = 0;
    while (start < text.size()) {
        auto end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        if (auto entry = parseMountInfoLine(text.substr(start, end - start)))
            entries.push_back(std::move(*entry));
        start = end + 1;
    }
    return entries;
}

std::optional<std::vector<MountEntry>> readMountInfo(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    return parseMountInfo(text.str());
}

std::string formatMountLine(const MountEntry &entry)
{
    std::string words = entry.fsType;
    if (entry.isReadOnly())
        words += ", read-only";
    std::size_t start = 0;
    const std::string_view options = entry.mountOptions;
    while (start < options.size()) {
        auto end = options.find(',', start);
        if (end == std::string_view::npos)
            end = options.size();
        const auto word = options.substr(start, end - start);
        if (!word.empty() && word != "rw" && word != "ro") {
            words += ", ";
            words += word;
        }
        start = end + 1;
    }
    return keepOnOneLine(entry.source) + " on " + keepOnOneLine(entry.mountPoint) + " (" + keepOnOneLine(words) + ")";
}

} // namespace standins
