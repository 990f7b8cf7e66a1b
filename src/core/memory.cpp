#include "core/memory.hpp"

#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "core/windows.hpp"

#if !defined(_WIN32)
#include <unistd.h>
#endif

namespace hivekit {

WorkingSetTooLarge::WorkingSetTooLarge(std::size_t count, std::size_t item_bytes, std::size_t physical) {
    std::snprintf(message_, sizeof message_,
                  "working set of %zu items of %zu bytes exceeds the %zu bytes of physical memory", count,
                  item_bytes, physical);
}

namespace {

// Without an answer the limit falls back to what an allocation may ask for at all.
constexpr std::size_t kUnknown = static_cast<std::size_t>(PTRDIFF_MAX);

std::size_t read_physical_memory() {
#if defined(_WIN32)
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    if (!::GlobalMemoryStatusEx(&status) || status.ullTotalPhys == 0) return kUnknown;
    return static_cast<std::size_t>(std::min<unsigned long long>(status.ullTotalPhys, SIZE_MAX));
#else
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long page_size = sysconf(_SC_PAGE_SIZE);
    if (pages <= 0 || page_size <= 0) return kUnknown;
    const auto n = static_cast<std::size_t>(pages), size = static_cast<std::size_t>(page_size);
    return n > SIZE_MAX / size ? SIZE_MAX : n * size;
#endif
}

}  // namespace

std::size_t physical_memory_bytes() {
    static const std::size_t bytes = read_physical_memory();
    return bytes;
}

bool exceeds_resident(std::size_t count, std::size_t item_bytes) {
    return item_bytes != 0 && count > physical_memory_bytes() / item_bytes;
}

void require_resident(std::size_t count, std::size_t item_bytes) {
    if (exceeds_resident(count, item_bytes)) throw WorkingSetTooLarge(count, item_bytes, physical_memory_bytes());
}

}  // namespace hivekit
