// The mount stand-in's mountinfo decoding and line formatting.
#include "MountInfo.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    for (const standins::MountEntry &entry : standins::parseMountInfo(text)) {
        const std::string line = standins::formatMountLine(entry);
        // One mount, one line: line breaks in names stay escaped.
        if (line.find('\n') != std::string::npos || line.find('\r') != std::string::npos)
            std::abort();
        if (line.find(" on ") == std::string::npos || line.back() != ')')
            std::abort();
    }
    return 0;
}
