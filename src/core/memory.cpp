#include "core/memory.hpp"

#include <cstdint>
#include <cstdio>
#include <unistd.h>

namespace hivekit {

WorkingSetTooLarge::WorkingSetTooLarge(std::size_t count, std::size_t item_bytes, std::size_t physical) {
    std::snprintf(message_, sizeof message_,
                  "working set of %zu items of %zu bytes exceeds the %zu bytes of physical memory", count,
                  item_bytes, physical);
}

std::size_t physical_memory_bytes() {
    static const std::size_t bytes = [] {
        const long pages = sysconf(_SC_PHYS_PAGES);
        const long page_size = sysconf(_SC_PAGE_SIZE);
        // Without an answer the limit falls back to what an allocation may ask for at all.
        if (pages <= 0 || page_size <= 0) return static_cast<std::size_t>(PTRDIFF_MAX);
        const auto n = static_cast<std::size_t>(pages), size = static_cast<std::size_t>(page_size);
        return n > SIZE_MAX / size ? SIZE_MAX : n * size;
    }();
    return bytes;
}

bool exceeds_resident(std::size_t count, std::size_t item_bytes) {
    return item_bytes != 0 && count > physical_memory_bytes() / item_bytes;
}

void require_resident(std::size_t count, std::size_t item_bytes) {
    if (exceeds_resident(count, item_bytes)) throw WorkingSetTooLarge(count, item_bytes, physical_memory_bytes());
}

}  // namespace hivekit
