#pragma once

#include <cstdint>

namespace standins {

// Asks the kernel to read, in a few large requests issued at once, the places where libblkid's
// probers look for signatures: the first 68 KiB, single pages at 128 KiB … 2 MiB and the last
// 132 KiB. The kernel drops a block device's cached pages when its last user closes it, so
// without this every probe pays one synchronous read per signature location. Only a hint: what
// the probe finds does not depend on it.
void prefetchSignatureAreas(int fd, std::int64_t size);

} // namespace standins
