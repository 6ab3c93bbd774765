// Whatever "COMPORT" holds, the restored choice is a list entry and the rewrite is our format.
#include "serial/portfile.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray content(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const int value = parsePortFile(content);
    const int index = restoredIndex(content);
    if (index < 0 || index >= kPortEntryCount || (value < kPortEntryCount && index != value)) {
        std::fprintf(stderr, "bad index %d from value %d\n", index, value);
        std::abort();
    }
    // Reading back what we write must give the same choice.
    if (restoredIndex(formatPortFile(index)) != index)
        std::abort();
    return 0;
}
