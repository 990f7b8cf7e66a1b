// Pareto machinery on hand-checked cases: dominance, fronts, crowding,
// selection by fronts, the two-dimensional hypervolume and the NaN-tolerant sort.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <span>
#include <utility>
#include <vector>

#include "algorithms/pareto.hpp"
#include "algorithms/ordering.hpp"
#include "recorder.hpp"

namespace hivekit {
namespace {

using test_support::kInf;
using test_support::kNaN;
using Values = std::vector<double>;
using Indices = std::vector<std::size_t>;
WorkMeter idle;

std::vector<Individual> individuals(const std::vector<Values>& objectives) {
    std::vector<Individual> out;
    for (std::size_t k = 0; k < objectives.size(); ++k) out.push_back({{static_cast<double>(k)}, objectives[k]});
    return out;
}

Values distances(const std::vector<Values>& objectives, const Indices& front) {
    const auto pop = individuals(objectives);
    Values out;
    for (std::size_t k = 0; const Crowding& c : crowding_distance(pop, front, idle)) {
        EXPECT_EQ(c.index, front[k++]);
        out.push_back(c.distance);
    }
    return out;
}

// A front whose crowding distances are exact in binary: inf, 1.5, 1.25, inf.
const std::vector<Values> kStaircase = {{0, 4}, {1, 2}, {3, 1}, {4, 0}};

TEST(Pareto, DominanceIsNowhereGreaterSomewhereLessOverTheShorterLengthWithNaNAsEqual) {
    EXPECT_TRUE(dominates(Values{1, 2}, Values{1, 3}));
    EXPECT_FALSE(dominates(Values{1, 2}, Values{1, 2}));
    EXPECT_FALSE(dominates(Values{0, 3}, Values{1, 2}));
    EXPECT_TRUE(dominates(Values{1, 9}, Values{2}));
    EXPECT_FALSE(dominates(Values{}, Values{1}));
    EXPECT_TRUE(dominates(Values{kNaN, 1}, Values{0, 2}));
    EXPECT_FALSE(dominates(Values{kNaN, 2}, Values{0, 2}));
}

TEST(Pareto, FrontsListTheFirstInIndexOrderAndLaterOnesInReleaseOrder) {
    EXPECT_EQ(non_dominated_sort(individuals({{1, 4}, {2, 2}, {3, 3}, {4, 1}, {5, 5}, {2, 2}}), idle),
              (std::vector<Front>{{0, 1, 3, 5}, {2}, {4}}));
    // Member 2 releases member 1 before member 3 releases member 0.
    EXPECT_EQ(non_dominated_sort(individuals({{6, 1}, {1, 6}, {0, 5}, {5, 0}}), idle), (std::vector<Front>{{2, 3}, {1, 0}}));
    EXPECT_TRUE(non_dominated_sort({}, idle).empty());
    const auto cycle = individuals({{0, kNaN, 1}, {1, 0, kNaN}, {kNaN, 1, 0}});
    EXPECT_TRUE(non_dominated_sort(cycle, idle).empty());
    EXPECT_TRUE(select_by_fronts(cycle, 3, idle).empty());
}

TEST(Pareto, CrowdingDistancesFollowTheFrontOrder) {
    EXPECT_EQ(distances(kStaircase, {0, 1, 2, 3}), (Values{kInf, 1.5, 1.25, kInf}));
    EXPECT_EQ(distances(kStaircase, {2, 0, 1}), (Values{kInf, kInf, 2.0}));
    EXPECT_EQ(distances(kStaircase, {0, 1}), (Values{kInf, kInf}));
    EXPECT_TRUE(distances(kStaircase, {}).empty());
    EXPECT_EQ(distances({{1, 1}, {1, 1}, {1, 1}}, {0, 1, 2}), (Values{kInf, 0.0, kInf}));
    // A missing value counts as +infinity; a short first member makes every vector count one value.
    EXPECT_EQ(distances({{0, 0}, {1}, {2, 2}}, {0, 1, 2}), (Values{kInf, kInf, kInf}));
    EXPECT_EQ(distances({{1}, {0, 7}, {2, 9}}, {0, 1, 2}), (Values{1.0, kInf, kInf}));
}

TEST(Pareto, SelectionTakesWholeFrontsThenTheMostCrowdingFirst) {
    const auto pop = individuals({{5, 5}, {0, 4}, {1, 2}, {3, 1}, {4, 0}});
    EXPECT_EQ(select_indices_by_fronts(pop, 5, idle), (Indices{1, 2, 3, 4, 0}));
    EXPECT_EQ(select_indices_by_fronts(pop, 4, idle), (Indices{1, 2, 3, 4}));
    EXPECT_TRUE(select_indices_by_fronts(pop, 0, idle).empty());
    EXPECT_EQ(select_indices_by_fronts(individuals(kStaircase), 3, idle), (Indices{0, 3, 1}));
    const auto chosen = select_by_fronts(individuals(kStaircase), 3, idle);
    ASSERT_EQ(chosen.size(), 3u);
    EXPECT_EQ(chosen[2].objectives, (Values{1, 2}));
    EXPECT_EQ(chosen[2].position, (Values{1}));
}

TEST(Pareto, HypervolumeCountsTheAreaInsideTheReferenceBoxOnce) {
    EXPECT_EQ(hypervolume_2d({{0, 0.5}, {0.5, 0}}), 0.75);
    EXPECT_EQ(hypervolume_2d({{0.5, 0}, {0, 0.5}}), 0.75);
    EXPECT_EQ(hypervolume_2d({{1.0, 0.0}, {0.0, 1.0}, {1.5, -2.0}, {-1.0, 3.0}}), 0.0);
    EXPECT_EQ(hypervolume_2d({}), 0.0);
    EXPECT_EQ(hypervolume_2d({{0.5}, {0.5, 0.5}, {0.75, 0.75}, {}}), 0.25);
}

TEST(Pareto, TheSortKeepsTiesInOrderAndNaNKeysInTheRange) {
    std::vector<std::pair<int, int>> items = {{2, 0}, {1, 1}, {2, 2}, {0, 3}, {1, 4}, {2, 5}, {0, 6}};
    sort_nan_tied_by_widths(std::span(items), [](auto a, auto b) { return a.first < b.first; }, idle);
    EXPECT_EQ(items, (std::vector<std::pair<int, int>>{{0, 3}, {0, 6}, {1, 1}, {1, 4}, {2, 0}, {2, 2}, {2, 5}}));
    Values keys = {3, kNaN, 1, kNaN, 2, 0, kNaN, 5, 4};
    sort_nan_tied_by_widths(std::span(keys), [](double a, double b) { return a < b; }, idle);
    EXPECT_EQ(std::count_if(keys.begin(), keys.end(), [](double v) { return std::isnan(v); }), 3);
    Values numbers;
    std::copy_if(keys.begin(), keys.end(), std::back_inserter(numbers), [](double v) { return v == v; });
    std::sort(numbers.begin(), numbers.end());
    EXPECT_EQ(numbers, (Values{0, 1, 2, 3, 4, 5}));
}

}  // namespace
}  // namespace hivekit
