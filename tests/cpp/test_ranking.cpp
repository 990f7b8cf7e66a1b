// The stable orderings of a population by value, NaN values included.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <span>
#include <utility>
#include <vector>

#include "algorithms/ordering.hpp"
#include "core/random_source.hpp"
#include "recorder.hpp"

namespace hivekit {
namespace {

using test_support::kNaN;
using Order = std::vector<std::size_t>;
WorkMeter idle;

Order ascending(ValueRanking& ranking, const std::vector<double>& v) {
    auto order = ranking.ascending(v, idle);
    return {order.begin(), order.end()};
}
Order descending(ValueRanking& ranking, const std::vector<double>& v) {
    auto order = ranking.descending(v, idle);
    return {order.begin(), order.end()};
}

TEST(ValueRanking, EqualValuesKeepIndexOrderAndAgreeWithAStableSort) {
    ValueRanking ranking(0);  // reused across sizes: nothing of one use may leak into the next
    EXPECT_EQ(ascending(ranking, {2, 1, 2, 0, 1, 2, -0.0, 0.0}), (Order{3, 6, 7, 1, 4, 0, 2, 5}));
    EXPECT_EQ(descending(ranking, {2, 1, 2, 0, 1, 2, -0.0, 0.0}), (Order{0, 2, 5, 1, 4, 3, 6, 7}));
    RandomSource rng = RandomSource::from_seed_u64(9);
    for (std::size_t n : {0u, 1u, 3u, 16u, 33u, 100u}) {
        std::vector<double> v(n);
        for (double& x : v) x = static_cast<double>(rng.index_below(6));  // many ties
        Order up(n), down(n);
        std::iota(up.begin(), up.end(), std::size_t{0});
        std::iota(down.begin(), down.end(), std::size_t{0});
        std::stable_sort(up.begin(), up.end(), [&](std::size_t a, std::size_t b) { return v[a] < v[b]; });
        std::stable_sort(down.begin(), down.end(), [&](std::size_t a, std::size_t b) { return v[a] > v[b]; });
        EXPECT_EQ(ascending(ranking, v), up) << n;
        EXPECT_EQ(descending(ranking, v), down) << n;
    }
}

TEST(ValueRanking, NaNValuesGiveARepeatablePermutation) {
    ValueRanking ranking(5);
    EXPECT_EQ(ascending(ranking, {kNaN, 3, 1, 2, 0}), (Order{0, 4, 2, 3, 1}));
    EXPECT_EQ(ascending(ranking, {3, 1, 2, 0, kNaN}), (Order{3, 1, 2, 0, 4}));
    EXPECT_EQ(descending(ranking, {kNaN, 3, 1, 2, 0}), (Order{0, 1, 3, 2, 4}));
    EXPECT_EQ(ascending(ranking, {kNaN, kNaN, kNaN, kNaN, kNaN}), (Order{0, 1, 2, 3, 4}));
    // Worked through the merges by hand: a NaN is never before anything, nor anything before it.
    EXPECT_EQ(ascending(ranking, {kNaN, 4, kNaN, 1, 2, kNaN, 0}), (Order{0, 3, 4, 1, 2, 5, 6}));
}

TEST(NaNTiedSorts, KeepTiesInInputOrderAndPlaceANaNEachByItsOwnMerges) {
    std::vector<std::pair<int, char>> items = {{2, 'a'}, {1, 'b'}, {2, 'c'}, {1, 'd'}, {0, 'e'}, {2, 'f'}};
    sort_nan_tied_by_halves(std::span(items), [](const auto& x, const auto& y) { return x.first < y.first; }, idle);
    EXPECT_EQ(items, (std::vector<std::pair<int, char>>{{0, 'e'}, {1, 'b'}, {1, 'd'}, {2, 'a'}, {2, 'c'}, {2, 'f'}}));
    // With a NaN key the two merge patterns disagree, and each one's placement
    // is part of the results of the bodies that use it.
    const auto less = [](double a, double b) { return a < b; };
    std::vector<double> by_halves = {3, kNaN, 1}, by_widths = by_halves;
    sort_nan_tied_by_halves(std::span(by_halves), less, idle);
    sort_nan_tied_by_widths(std::span(by_widths), less, idle);
    EXPECT_TRUE(by_halves[0] == 3 && std::isnan(by_halves[1]) && by_halves[2] == 1);
    EXPECT_TRUE(by_widths[0] == 1 && by_widths[1] == 3 && std::isnan(by_widths[2]));
}

}  // namespace
}  // namespace hivekit
