// Feeds arbitrary text to the reader of the kernel's memory status: it must neither crash nor
// read outside the text, whatever the lines look like.
#include "platform/MemoryStatus.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::uint64_t bytes =
        kairelon::ParseAvailableMemory(reinterpret_cast<const char*>(data), size);
    (void)bytes;
    return 0;
}
