// The refusal of working sets larger than the machine's physical memory.
#include <gtest/gtest.h>

#include <cstdint>
#include <new>
#include <string>

#include "algorithms/common.hpp"
#include "core/memory.hpp"

namespace hivekit {
namespace {

TEST(MemoryLimit, PhysicalMemoryIsKnown) { EXPECT_GT(physical_memory_bytes(), std::size_t{1} << 20); }

TEST(MemoryLimit, RowsThatFitAreCountedAsCells) {
    EXPECT_EQ(rows_size(30, 7), 210u);
    EXPECT_EQ(rows_size(0, 1000), 0u);
    EXPECT_EQ(rows_size(5, 0), 0u);
}

TEST(MemoryLimit, OneArrayOfHalfThePhysicalMemoryIsRefusedBeforeAllocating) {
    // A body keeps several arrays of the population's shape, so one that
    // takes half the memory cannot be worked with.
    const std::size_t half = physical_memory_bytes() / 2 / sizeof(double);
    EXPECT_THROW(rows_size(half, 1), WorkingSetTooLarge);
    EXPECT_THROW(rows_size(1, half), WorkingSetTooLarge);
    EXPECT_NO_THROW(rows_size(1000, 1000));
}

TEST(MemoryLimit, ProductsBeyondTheSizeRangeAreAllocationFailures) {
    EXPECT_THROW(rows_size(SIZE_MAX / 2, 4), std::bad_alloc);
    EXPECT_THROW(rows_size(4, SIZE_MAX / 2), std::bad_alloc);
    EXPECT_THROW(rows_size(SIZE_MAX, SIZE_MAX), std::bad_alloc);
    EXPECT_THROW(require_resident(SIZE_MAX, SIZE_MAX), WorkingSetTooLarge);
}

TEST(MemoryLimit, AHistoryLongerThanMemoryIsRefused) {
    const std::uint64_t entries = physical_memory_bytes() / sizeof(double);
    EXPECT_THROW(history_capacity(entries + 1), WorkingSetTooLarge);
    EXPECT_EQ(history_capacity(1000), 1000u);
}

TEST(MemoryLimit, TheRefusalSaysWhatWasAskedAndWhatThereIs) {
    try {
        require_resident(3, physical_memory_bytes());
        FAIL() << "not refused";
    } catch (const WorkingSetTooLarge& refusal) {
        const std::string text = refusal.what();
        EXPECT_NE(text.find("working set of 3 items of " + std::to_string(physical_memory_bytes()) + " bytes"),
                  std::string::npos);
        EXPECT_NE(text.find("bytes of physical memory"), std::string::npos);
    }
}

}  // namespace
}  // namespace hivekit
