// Volume name → mount directory and command lines, through a real shell.
#include "support/MountPathsThroughShell.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 300)
        return 0;
    const QString name = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    if (const auto problem = testsupport::mountPathsProblem(name, int(size % 3))) {
        std::fprintf(stderr, "%s\n", qPrintable(*problem));
        std::abort();
    }
    return 0;
}
