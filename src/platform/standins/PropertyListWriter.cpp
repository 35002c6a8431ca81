#include "PropertyListWriter.h"

#include "Text.h"

namespace standins {

std::string xmlText(std::string_view text)
{
    const std::string utf8 = repairUtf8(text);
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        const char c = utf8[i];
        switch (c) {
        case '&': out += "&amp;"; continue;
        case '<': out += "&lt;"; continue;
        case '>': out += "&gt;"; continue;
        case '\r': out += "&#13;"; continue;
        case '\t':
        case '\n': out += c; continue;
        default: break;
        }
        if (static_cast<unsigned char>(c) < 0x20) {
            out += "\xEF\xBF\xBD";
            continue;
        }
        // U+FFFE and U+FFFF are EF BF BE and EF BF BF; the text is valid UTF-8 by now.
        if (c == '\xEF' && i + 2 < utf8.size() && utf8[i + 1] == '\xBF'
            && (utf8[i + 2] == '\xBE' || utf8[i + 2] == '\xBF')) {
            out += "\xEF\xBF\xBD";
            i += 2;
            continue;
        }
        out += c;
    }
    return out;
}

PropertyListWriter::PropertyListWriter()
{
    m_out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
            "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
            "<plist version=\"1.0\">\n";
}

void PropertyListWriter::line(std::string_view text)
{
    m_out.append(static_cast<std::size_t>(m_depth), '\t');
    m_out += text;
    m_out += '\n';
}

void PropertyListWriter::beginDict()
{
    line("<dict>");
    ++m_depth;
}

void PropertyListWriter::endDict()
{
    --m_depth;
    line("</dict>");
}

void PropertyListWriter::beginArray()
{
    line("<array>");
    ++m_depth;
}

void PropertyListWriter::endArray()
{
    --m_depth;
    line("</array>");
}

void PropertyListWriter::key(std::string_view name)
{
    line("<key>" + xmlText(name) + "</key>");
}

void PropertyListWriter::string(std::string_view value)
{
    line("<string>" + xmlText(value) + "</string>");
}

void PropertyListWriter::integer(std::int64_t value)
{
    line("<integer>" + std::to_string(value) + "</integer>");
}

void PropertyListWriter::boolean(bool value)
{
    line(value ? "<true/>" : "<false/>");
}

void PropertyListWriter::stringEntry(std::string_view name, std::string_view value)
{
    key(name);
    string(value);
}

void PropertyListWriter::integerEntry(std::string_view name, std::int64_t value)
{
    key(name);
    integer(value);
}

void PropertyListWriter::booleanEntry(std::string_view name, bool value)
{
    key(name);
    boolean(value);
}

std::string PropertyListWriter::finish()
{
    m_out += "</plist>\n";
    return std::move(m_out);
}

} // namespace standins
