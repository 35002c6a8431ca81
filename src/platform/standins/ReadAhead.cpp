#include "ReadAhead.h"

#include <algorithm>

#include <fcntl.h>

namespace standins {

void prefetchSignatureAreas(int fd, std::int64_t size)
{
    constexpr std::int64_t KiB = 1024;
    constexpr std::int64_t head = 68 * KiB;
    constexpr std::int64_t tail = 132 * KiB;
    constexpr std::int64_t page = 4 * KiB;
    if (size <= 0)
        return;
    ::posix_fadvise(fd, 0, std::min(size, head), POSIX_FADV_WILLNEED);
    for (std::int64_t offset = 128 * KiB; offset <= 2048 * KiB && offset < size; offset *= 2)
        ::posix_fadvise(fd, offset, page, POSIX_FADV_WILLNEED);
    if (size > head)
        ::posix_fadvise(fd, std::max(head, size - tail), size - std::max(head, size - tail), POSIX_FADV_WILLNEED);
}

} // namespace standins
