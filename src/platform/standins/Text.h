#pragma once

#include <string>
#include <string_view>

// Small text helpers shared by the Linux stand-ins (no Qt here).
namespace standins {

// `bytes` as valid UTF-8: every ill-formed sequence (stray continuation bytes, overlong forms,
// surrogates, code points above U+10FFFF, truncated sequences) becomes one U+FFFD per maximal
// ill-formed subpart, the way browsers and ICU repair text.
std::string repairUtf8(std::string_view bytes);

// Decodes the kernel's octal escapes of /proc mount tables ("\040" for a blank, "\134" for a
// backslash). A backslash not followed by three octal digits stays as it is.
std::string decodeOctalEscapes(std::string_view text);

// Decodes udev's "\xHH" escapes (ID_FS_LABEL_ENC). Other backslashes stay as they are.
std::string decodeHexEscapes(std::string_view text);

// Natural order of kernel device names: digit runs compare by value, so "loop2" comes before
// "loop10" and "sda2" before "sda10"; everything else compares byte by byte.
bool naturalLess(std::string_view a, std::string_view b);

// `text` without blanks, tabs and line breaks at both ends.
std::string_view trimmed(std::string_view text);

} // namespace standins
