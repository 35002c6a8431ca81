#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace standins {

// Writes an XML property list in the layout of Apple's tools, one element per line, tab-indented.
// Keys and strings may hold any bytes: they come out as valid UTF-8 and valid XML 1.0 text.
class PropertyListWriter {
public:
    PropertyListWriter();

    void beginDict();
    void endDict();
    void beginArray();
    void endArray();

    void key(std::string_view name);
    void string(std::string_view value);
    void integer(std::int64_t value);
    void boolean(bool value);

    // Convenience: key followed by a value.
    void stringEntry(std::string_view name, std::string_view value);
    void integerEntry(std::string_view name, std::int64_t value);
    void booleanEntry(std::string_view name, bool value);

    // The document, closed with </plist>. Call once, after the root element is complete.
    std::string finish();

private:
    void line(std::string_view text);

    std::string m_out;
    int m_depth = 0;
};

// `text` as XML character data: repaired to UTF-8, "&", "<" and ">" escaped, a carriage return
// written as a character reference (parsers would turn a literal one into a line feed), and every
// character that XML 1.0 forbids (the C0 controls other than tab, line feed and carriage return;
// U+FFFE, U+FFFF) replaced by U+FFFD.
std::string xmlText(std::string_view text);

} // namespace standins
