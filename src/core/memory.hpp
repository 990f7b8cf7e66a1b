// The one limit on how much memory a fit may plan to keep resident.
#pragma once

#include <cstddef>
#include <new>

namespace hivekit {

// Refusal of a working set larger than the machine's physical memory. The
// system grants such allocations (pages are committed lazily), but touching
// them all would get the process killed; refusing before allocating turns the
// request into an ordinary allocation failure instead.
class WorkingSetTooLarge : public std::bad_alloc {
public:
    WorkingSetTooLarge(std::size_t count, std::size_t item_bytes, std::size_t physical);
    const char* what() const noexcept override { return message_; }

private:
    char message_[160];
};

// Bytes of physical memory, read once from the system.
std::size_t physical_memory_bytes();

// Whether `count` items of `item_bytes` bytes each (a product beyond the size
// range included) exceed physical memory: the one test of the limit, which the
// package's Python code calls too.
bool exceeds_resident(std::size_t count, std::size_t item_bytes);

// Throws WorkingSetTooLarge when exceeds_resident(count, item_bytes).
void require_resident(std::size_t count, std::size_t item_bytes);

}  // namespace hivekit
