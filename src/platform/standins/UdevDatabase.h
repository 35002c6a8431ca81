#pragma once

// The fallback when a device cannot be opened: udev's record of what it holds.
#include "SignatureProbe.h"

namespace standins {

// udev's record of `device`: "E:KEY=VALUE" lines in /run/udev/data/bMAJOR:MINOR (paths.udevData).
// Not ok when there is none.
ProbeResult probeFromUdev(const SystemPaths &paths, const BlockDevice &device);

} // namespace standins
