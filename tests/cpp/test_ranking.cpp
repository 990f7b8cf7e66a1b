#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numeric>
#include <utility>
#include <vector>

#include "algorithms/ordering.hpp"
#include "core/random_source.hpp"

namespace hivekit {
namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();
WorkMeter idle;

std::vector<std::size_t> ascending(const std::vector<double>& values) {
    ValueRanking ranking(values.size());
    auto order = ranking.ascending(values, idle);
    return {order.begin(), order.end()};
}

std::vector<std::size_t> descending(const std::vector<double>& values) {
    ValueRanking ranking(values.size());
    auto order = ranking.descending(values, idle);
    return {order.begin(), order.end()};
}

bool is_permutation_of_indices(std::vector<std::size_t> order) {
    std::sort(order.begin(), order.end());
    for (std::size_t i = 0; i < order.size(); ++i)
        if (order[i] != i) return false;
    return true;
}

TEST(ValueRanking, EqualValuesKeepIndexOrderBothWays) {
    const std::vector<double> v = {2, 1, 2, 0, 1, 2, -0.0, 0.0};
    EXPECT_EQ(ascending(v), (std::vector<std::size_t>{3, 6, 7, 1, 4, 0, 2, 5}));
    EXPECT_EQ(descending(v), (std::vector<std::size_t>{0, 2, 5, 1, 4, 3, 6, 7}));
}

TEST(ValueRanking, AgreesWithAStableSortWithoutNaN) {
    RandomSource rng = RandomSource::from_seed_u64(9);
    for (std::size_t n : {0u, 1u, 2u, 3u, 7u, 16u, 33u, 100u}) {
        std::vector<double> v(n);
        for (double& x : v) x = static_cast<double>(rng.index_below(6));  // many ties
        const auto stable = [&](auto before) {
            std::vector<std::size_t> order(n);
            std::iota(order.begin(), order.end(), std::size_t{0});
            std::stable_sort(order.begin(), order.end(), before);
            return order;
        };
        EXPECT_EQ(ascending(v), stable([&](std::size_t a, std::size_t b) { return v[a] < v[b]; })) << "n " << n;
        EXPECT_EQ(descending(v), stable([&](std::size_t a, std::size_t b) { return v[a] > v[b]; })) << "n " << n;
    }
}

TEST(ValueRanking, ANaNAtEitherEndStaysThereAndTheRestIsSorted) {
    EXPECT_EQ(ascending({kNaN, 3, 1, 2, 0}), (std::vector<std::size_t>{0, 4, 2, 3, 1}));
    EXPECT_EQ(ascending({3, 1, 2, 0, kNaN}), (std::vector<std::size_t>{3, 1, 2, 0, 4}));
    EXPECT_EQ(descending({kNaN, 3, 1, 2, 0}), (std::vector<std::size_t>{0, 1, 3, 2, 4}));
}

TEST(ValueRanking, NaNValuesStillGiveAPermutationThatRepeats) {
    RandomSource rng = RandomSource::from_seed_u64(4);
    std::vector<double> v(41);
    for (double& x : v) x = rng.uniform() < 0.3 ? kNaN : rng.uniform();
    const auto first = ascending(v);
    EXPECT_TRUE(is_permutation_of_indices(first));
    EXPECT_EQ(ascending(v), first);
    EXPECT_TRUE(is_permutation_of_indices(descending(v)));
    EXPECT_EQ(ascending(std::vector<double>(5, kNaN)), (std::vector<std::size_t>{0, 1, 2, 3, 4}));
}

TEST(ValueRanking, ReusedRankingFollowsTheNewValues) {
    ValueRanking ranking(3);
    const std::vector<double> a = {3, 2, 1}, b = {1, 3, 2};
    auto first = ranking.ascending(a, idle);
    EXPECT_EQ(std::vector<std::size_t>(first.begin(), first.end()), (std::vector<std::size_t>{2, 1, 0}));
    auto second = ranking.ascending(b, idle);
    EXPECT_EQ(std::vector<std::size_t>(second.begin(), second.end()), (std::vector<std::size_t>{0, 2, 1}));
}

TEST(StableSortBy, KeepsTheOrderOfElementsThatAreNotBeforeEachOther) {
    std::vector<std::pair<int, char>> items = {{2, 'a'}, {1, 'b'}, {2, 'c'}, {1, 'd'}, {0, 'e'}, {2, 'f'}};
    sort_nan_tied_by_halves(std::span(items), [](const auto& x, const auto& y) { return x.first < y.first; }, idle);
    const std::vector<std::pair<int, char>> want = {{0, 'e'}, {1, 'b'}, {1, 'd'}, {2, 'a'}, {2, 'c'}, {2, 'f'}};
    EXPECT_EQ(items, want);
}

// Why both merge patterns are kept: with a NaN key they disagree, and each
// one's placement is part of the results of the bodies that use it.
TEST(NaNTiedSorts, TheTwoMergePatternsPlaceANaNDifferently) {
    const auto less = [](double a, double b) { return a < b; };
    std::vector<double> by_halves = {3, kNaN, 1}, by_widths = by_halves;
    sort_nan_tied_by_halves(std::span(by_halves), less, idle);
    sort_nan_tied_by_widths(std::span(by_widths), less, idle);
    EXPECT_EQ(by_halves[0], 3);
    EXPECT_TRUE(std::isnan(by_halves[1]));
    EXPECT_EQ(by_halves[2], 1);
    EXPECT_EQ(by_widths[0], 1);
    EXPECT_EQ(by_widths[1], 3);
    EXPECT_TRUE(std::isnan(by_widths[2]));
}

}  // namespace
}  // namespace hivekit
