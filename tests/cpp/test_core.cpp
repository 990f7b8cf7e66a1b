// Search box, number formatting, shared comparisons and the preparation of a search.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "core/bounds.hpp"
#include "core/format.hpp"
#include "core/numeric.hpp"
#include "core/search.hpp"
#include "recorded_problem.hpp"

namespace hivekit {
namespace {

using namespace hivekit::test_support;

std::string failure(std::vector<double> lower, std::vector<double> upper) {
    auto made = Bounds::make(std::move(lower), std::move(upper));
    auto* message = std::get_if<std::string>(&made);
    return message ? *message : "";
}

TEST(Bounds, RejectsLimitsOfDifferentLengths) {
    EXPECT_EQ(failure({0, 1}, {1}), "Lower and upper bounds must have the same length");
}

TEST(Bounds, NamesTheFirstInvertedIndexWithWholeNumbersPrintedPlainly) {
    EXPECT_EQ(failure({0, 5, 3}, {1, 4, 2}), "Lower bound 5 > upper bound 4 at index 1");
    EXPECT_EQ(failure({0.5}, {0.25}), "Lower bound 0.5 > upper bound 0.25 at index 0");
}

TEST(Bounds, AcceptsEqualLimitsNaNLimitsAndTheEmptyBox) {
    EXPECT_EQ(failure({1.5}, {1.5}), "");
    EXPECT_EQ(failure({kNaN, 0}, {1, kNaN}), "");
    EXPECT_EQ(box({}, {}).dimension(), 0u);
}

TEST(Bounds, CentreIsTheMidpointOfEachSide) {
    auto c = box({-1, 0, 2}, {1, 3, 2}).centre();
    EXPECT_EQ(c, (std::vector<double>{0.0, 1.5, 2.0}));
}

TEST(Bounds, ClipPullsCoordinatesIntoTheBoxAndNaNToTheLowerLimit) {
    Bounds b = box({-1, -1, -1, -1, 0}, {1, 1, 1, 1, 0});
    std::vector<double> x{-3, 0.25, 7, kNaN, -0.0};
    b.clip(x);
    EXPECT_EQ(x[0], -1);
    EXPECT_EQ(x[1], 0.25);
    EXPECT_EQ(x[2], 1);
    EXPECT_EQ(x[3], -1);
    // -0 against the limits +0: equal operands keep the first, the coordinate.
    EXPECT_TRUE(std::signbit(x[4]));
}

TEST(Bounds, ClipIgnoresNaNLimits) {
    Bounds b = box({kNaN}, {kNaN});
    std::vector<double> x{3.0};
    b.clip(x);
    EXPECT_EQ(x[0], 3.0);
}

TEST(Numeric, MaxAndMinIgnoreNaNAndKeepTheFirstOfEqualOperands) {
    EXPECT_EQ(max_num(kNaN, 2.0), 2.0);
    EXPECT_EQ(max_num(2.0, kNaN), 2.0);
    EXPECT_EQ(min_num(kNaN, -2.0), -2.0);
    EXPECT_TRUE(std::isnan(max_num(kNaN, kNaN)));
    EXPECT_TRUE(std::signbit(max_num(-0.0, 0.0)));
    EXPECT_FALSE(std::signbit(max_num(0.0, -0.0)));
    EXPECT_TRUE(std::signbit(min_num(-0.0, 0.0)));
    EXPECT_FALSE(std::signbit(min_num(0.0, -0.0)));
}

TEST(Numeric, ANumberImprovesOnNaNButNaNNeverImproves) {
    EXPECT_TRUE(improves(1.0, 2.0));
    EXPECT_FALSE(improves(2.0, 2.0));
    EXPECT_TRUE(improves(5.0, kNaN));
    EXPECT_TRUE(improves(kInf, kNaN));
    EXPECT_FALSE(improves(kNaN, 1.0));
    EXPECT_FALSE(improves(kNaN, kNaN));
}

TEST(FormatNumber, PrintsShortestRoundTripWithoutExponent) {
    EXPECT_EQ(format_number(1.0), "1");
    EXPECT_EQ(format_number(2.0), "2");
    EXPECT_EQ(format_number(0.5), "0.5");
    EXPECT_EQ(format_number(1e-4), "0.0001");
    EXPECT_EQ(format_number(0.1), "0.1");
    EXPECT_EQ(format_number(1e21), "1000000000000000000000");
    EXPECT_EQ(format_number(123.456), "123.456");
    EXPECT_EQ(format_number(-2.5e-7), "-0.00000025");
    EXPECT_EQ(format_number(5e-324), "0." + std::string(323, '0') + "5");
}

TEST(FormatNumber, PrintsZerosAndSpecialValues) {
    EXPECT_EQ(format_number(0.0), "0");
    EXPECT_EQ(format_number(-0.0), "-0");
    EXPECT_EQ(format_number(kNaN), "NaN");
    EXPECT_EQ(format_number(kInf), "inf");
    EXPECT_EQ(format_number(-kInf), "-inf");
}

TEST(FormatNumber, RoundTripsEveryDigitTheShortestFormNeeds) {
    for (double v : {0.30000000000000004, 1.7976931348623157e308, 2.2250738585072014e-308, 1234567.0001}) {
        EXPECT_EQ(std::stod(format_number(v)), v) << format_number(v);
    }
}

class FixedDimension final : public Problem {
public:
    explicit FixedDimension(std::size_t d) : d_(d) {}
    double evaluate(std::span<const double>) override { return 0.0; }
    std::size_t dimension() const override { return d_; }
    bool is_discrete() const override { return false; }
    std::string_view name() const override { return "fixed"; }
    const DistanceMatrix* distance_matrix() const override { return nullptr; }

private:
    std::size_t d_;
};

TEST(PrepareSearch, RejectsTheEmptyBoxBeforeTheDimensionCheck) {
    FixedDimension problem(3);
    auto result = prepare_search(box({}, {}), problem, 1);
    auto& error = std::get<OptimizerError>(result);
    EXPECT_EQ(error.display(), "Invalid input: Problem must have at least one dimension");
}

TEST(PrepareSearch, RejectsAProblemOfAnotherDimension) {
    FixedDimension problem(3);
    auto result = prepare_search(box({0, 0}, {1, 1}), problem, 1);
    EXPECT_EQ(std::get<OptimizerError>(result).display(),
              "Dimension mismatch: Problem has 3 dimensions but bounds have 2");
}

TEST(PrepareSearch, ComputesTheWidthsAndSeedsTheGenerator) {
    FixedDimension problem(2);
    auto result = prepare_search(box({-1, 2}, {1, 2}), problem, 42);
    auto& setup = std::get<SearchSetup>(result);
    EXPECT_EQ(setup.dimension, 2u);
    EXPECT_EQ(setup.span, (std::vector<double>{2.0, 0.0}));
    auto fresh = RandomSource::from_seed_u64(42);
    EXPECT_EQ(setup.rng.next_u64(), fresh.next_u64());
}

TEST(OptimizerError, DisplaysItsKind) {
    EXPECT_EQ((OptimizerError{ErrorKind::ConvergenceFailure, "x"}).display(), "Convergence error: x");
}

}  // namespace
}  // namespace hivekit
