#include "UdevDatabase.h"

#include "Text.h"

#include <fstream>
#include <string>

namespace standins {

ProbeResult probeFromUdev(const SystemPaths &paths, const BlockDevice &device)
{
    ProbeResult result;
    std::ifstream in(paths.udevData + "/b" + std::to_string(device.major) + ":" + std::to_string(device.minor));
    if (!in)
        return result;
    result.ok = true;
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("E:", 0) != 0)
            continue;
        const auto equals = line.find('=');
        if (equals == std::string::npos)
            continue;
        const std::string key = line.substr(2, equals - 2);
        const std::string value = line.substr(equals + 1);
        if (key == "ID_FS_TYPE")
            result.fsType = value;
        else if (key == "ID_FS_LABEL_ENC" && !value.empty())
            result.label = decodeHexEscapes(value);
        else if (key == "ID_PART_TABLE_TYPE")
            result.tableType = value;
    }
    return result;
}

} // namespace standins
