// The search box, the shared comparisons, number formatting, the preparation
// of a search and the refusal of working sets beyond physical memory. The
// messages of a bad box and the usual number forms are checked from Python.
#include <gtest/gtest.h>

#include <cmath>
#include <new>
#include <string>
#include <vector>

#include "algorithms/common.hpp"
#include "core/format.hpp"
#include "core/memory.hpp"
#include "core/numeric.hpp"
#include "core/search.hpp"
#include "recorder.hpp"

namespace hivekit {
namespace {

using namespace hivekit::test_support;

TEST(Bounds, AcceptsEqualAndNaNLimitsAndClipsRaisingThenLowering) {
    EXPECT_TRUE(std::holds_alternative<Bounds>(Bounds::make({1.5, kNaN, 0}, {1.5, 1, kNaN})));
    EXPECT_EQ(box({-1, 0, 2}, {1, 3, 2}).centre(), (std::vector<double>{0.0, 1.5, 2.0}));
    std::vector<double> x{-3, 0.25, 7, kNaN, -0.0};
    box({-1, -1, -1, -1, 0}, {1, 1, 1, 1, 0}).clip(x);
    EXPECT_EQ(x, (std::vector<double>{-1, 0.25, 1, -1, 0}));  // NaN ends at the lower limit
    EXPECT_TRUE(std::signbit(x[4]));  // -0 against limits +0: equal operands keep the coordinate
    std::vector<double> y{3.0};
    box({kNaN}, {kNaN}).clip(y);
    EXPECT_EQ(y[0], 3.0);
}

TEST(Numeric, MaxMinIgnoreNaNKeepTheFirstOfEqualsAndOnlyANumberImprovesOnNaN) {
    EXPECT_EQ(max_num(kNaN, 2.0), 2.0);
    EXPECT_EQ(max_num(2.0, kNaN), 2.0);
    EXPECT_EQ(min_num(kNaN, -2.0), -2.0);
    EXPECT_TRUE(std::isnan(max_num(kNaN, kNaN)));
    EXPECT_TRUE(std::signbit(max_num(-0.0, 0.0)));
    EXPECT_FALSE(std::signbit(min_num(0.0, -0.0)));
    EXPECT_TRUE(improves(1.0, 2.0));
    EXPECT_FALSE(improves(2.0, 2.0));
    EXPECT_TRUE(improves(kInf, kNaN));
    EXPECT_FALSE(improves(kNaN, 1.0));
    EXPECT_FALSE(improves(kNaN, kNaN));
}

TEST(FormatNumber, PrintsTheShortestRoundTripWithoutExponent) {
    EXPECT_EQ(format_number(-2.5e-7), "-0.00000025");
    EXPECT_EQ(format_number(5e-324), "0." + std::string(323, '0') + "5");
    for (double v : {0.30000000000000004, 1.7976931348623157e308, 2.2250738585072014e-308})
        EXPECT_EQ(std::stod(format_number(v)), v) << format_number(v);
}

TEST(PrepareSearch, ChecksTheBoxBeforeTheProblemsDimension) {
    Recorder three(3, sphere);
    EXPECT_EQ(std::get<OptimizerError>(prepare_search(box({}, {}), three, 1)).display(),
              "Invalid input: Problem must have at least one dimension");
    EXPECT_EQ(std::get<OptimizerError>(prepare_search(box({0, 0}, {1, 1}), three, 1)).display(),
              "Dimension mismatch: Problem has 3 dimensions but bounds have 2");
}

TEST(MemoryLimit, WorkingSetsBeyondPhysicalMemoryAreRefusedBeforeAllocating) {
    EXPECT_EQ(rows_size(30, 7), 210u);
    EXPECT_EQ(rows_size(0, 1000), 0u);
    // A body keeps several arrays of its population's shape: one of half the memory cannot be worked with.
    const std::size_t half = physical_memory_bytes() / 2 / sizeof(double);
    EXPECT_THROW(rows_size(half, 1), WorkingSetTooLarge);
    EXPECT_THROW(rows_size(1, half), WorkingSetTooLarge);
    EXPECT_THROW(rows_size(4, SIZE_MAX / 2), std::bad_alloc);
    EXPECT_THROW(require_resident(SIZE_MAX, SIZE_MAX), WorkingSetTooLarge);
    EXPECT_THROW(history_capacity(physical_memory_bytes() / sizeof(double) + 1), WorkingSetTooLarge);
    EXPECT_EQ(history_capacity(1000), 1000u);
    try {
        require_resident(3, physical_memory_bytes());
        ADD_FAILURE() << "not refused";
    } catch (const WorkingSetTooLarge& refusal) {
        EXPECT_EQ(std::string(refusal.what()), "working set of 3 items of " + std::to_string(physical_memory_bytes()) +
                                                   " bytes exceeds the " + std::to_string(physical_memory_bytes()) +
                                                   " bytes of physical memory");
    }
}

}  // namespace
}  // namespace hivekit
