// Pareto machinery: dominance, fronts, crowding distances, selection by fronts
// and the two-dimensional hypervolume, on small hand-checked cases.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "algorithms/pareto.hpp"
#include "algorithms/ordering.hpp"

namespace {

using hivekit::Crowding;
using hivekit::dominates;
using hivekit::Front;
using hivekit::Individual;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

hivekit::WorkMeter idle;

std::vector<Individual> individuals(const std::vector<std::vector<double>>& objectives) {
    std::vector<Individual> out;
    for (std::size_t k = 0; k < objectives.size(); ++k) out.push_back({{static_cast<double>(k)}, objectives[k]});
    return out;
}

std::vector<double> distances(const std::vector<Crowding>& crowding) {
    std::vector<double> out;
    for (const Crowding& c : crowding) out.push_back(c.distance);
    return out;
}

// A front whose crowding distances are exact in binary: inf, 1.5, 1.25, inf.
const std::vector<std::vector<double>> kStaircase = {{0, 4}, {1, 2}, {3, 1}, {4, 0}};

TEST(ParetoDominance, NowhereGreaterAndSomewhereLess) {
    EXPECT_TRUE(dominates(std::vector<double>{1, 2}, std::vector<double>{1, 3}));
    EXPECT_FALSE(dominates(std::vector<double>{1, 3}, std::vector<double>{1, 2}));
    EXPECT_FALSE(dominates(std::vector<double>{1, 2}, std::vector<double>{1, 2}));
    EXPECT_FALSE(dominates(std::vector<double>{0, 3}, std::vector<double>{1, 2}));
}

TEST(ParetoDominance, ComparesOverTheShorterLength) {
    EXPECT_TRUE(dominates(std::vector<double>{1, 9}, std::vector<double>{2}));
    EXPECT_TRUE(dominates(std::vector<double>{1}, std::vector<double>{2, 0}));
    EXPECT_FALSE(dominates(std::vector<double>{2}, std::vector<double>{1, 9}));
    EXPECT_FALSE(dominates(std::vector<double>{}, std::vector<double>{1}));
    EXPECT_FALSE(dominates(std::vector<double>{1}, std::vector<double>{}));
}

TEST(ParetoDominance, NaNBehavesAsEqual) {
    EXPECT_TRUE(dominates(std::vector<double>{kNaN, 1}, std::vector<double>{0, 2}));
    EXPECT_FALSE(dominates(std::vector<double>{kNaN, 2}, std::vector<double>{0, 2}));
}

TEST(ParetoNonDominatedSort, HandCheckedFronts) {
    // 1 and 5 are equal and both in the first front; 2 is dominated by them, 4 by everyone.
    auto pop = individuals({{1, 4}, {2, 2}, {3, 3}, {4, 1}, {5, 5}, {2, 2}});
    EXPECT_EQ(hivekit::non_dominated_sort(pop, idle), (std::vector<Front>{{0, 1, 3, 5}, {2}, {4}}));
}

TEST(ParetoNonDominatedSort, LaterFrontsListMembersInReleaseOrder) {
    // Member 2 releases member 1 before member 3 releases member 0.
    auto pop = individuals({{6, 1}, {1, 6}, {0, 5}, {5, 0}});
    EXPECT_EQ(hivekit::non_dominated_sort(pop, idle), (std::vector<Front>{{2, 3}, {1, 0}}));
}

TEST(ParetoNonDominatedSort, EmptyInputHasNoFronts) {
    EXPECT_TRUE(hivekit::non_dominated_sort({}, idle).empty());
}

TEST(ParetoNonDominatedSort, DominanceCycleHasNoFronts) {
    auto pop = individuals({{0, kNaN, 1}, {1, 0, kNaN}, {kNaN, 1, 0}});
    EXPECT_TRUE(hivekit::non_dominated_sort(pop, idle).empty());
    EXPECT_TRUE(hivekit::select_by_fronts(pop, 3, idle).empty());
}

TEST(ParetoCrowdingDistance, HandCheckedStaircase) {
    auto pop = individuals(kStaircase);
    auto crowding = hivekit::crowding_distance(pop, std::vector<std::size_t>{0, 1, 2, 3}, idle);
    EXPECT_EQ(distances(crowding), (std::vector<double>{kInf, 1.5, 1.25, kInf}));
    for (std::size_t k = 0; k < crowding.size(); ++k) EXPECT_EQ(crowding[k].index, k);
}

TEST(ParetoCrowdingDistance, FollowsTheFrontOrder) {
    auto pop = individuals(kStaircase);
    auto crowding = hivekit::crowding_distance(pop, std::vector<std::size_t>{2, 0, 1}, idle);
    EXPECT_EQ(crowding[0].index, 2u);
    EXPECT_EQ(crowding[1].index, 0u);
    EXPECT_EQ(crowding[2].index, 1u);
    // Members 2, 0, 1 alone: 1 sits between 0 and 2 in both objectives.
    EXPECT_EQ(distances(crowding), (std::vector<double>{kInf, kInf, 2.0}));
}

TEST(ParetoCrowdingDistance, SmallFrontsAreInfinite) {
    auto pop = individuals({{1, 2}, {2, 1}});
    EXPECT_EQ(distances(hivekit::crowding_distance(pop, std::vector<std::size_t>{0}, idle)),
              (std::vector<double>{kInf}));
    EXPECT_EQ(distances(hivekit::crowding_distance(pop, std::vector<std::size_t>{0, 1}, idle)),
              (std::vector<double>{kInf, kInf}));
    EXPECT_TRUE(hivekit::crowding_distance(pop, std::vector<std::size_t>{}, idle).empty());
}

TEST(ParetoCrowdingDistance, EqualValuesLeaveTheMiddleAtZero) {
    auto pop = individuals({{1, 1}, {1, 1}, {1, 1}});
    EXPECT_EQ(distances(hivekit::crowding_distance(pop, std::vector<std::size_t>{0, 1, 2}, idle)),
              (std::vector<double>{kInf, 0.0, kInf}));
}

TEST(ParetoCrowdingDistance, MissingValuesCountAsInfinity) {
    // Member 1 has no second value: it sorts last there, which makes it an end.
    auto pop = individuals({{0, 0}, {1}, {2, 2}});
    EXPECT_EQ(distances(hivekit::crowding_distance(pop, std::vector<std::size_t>{0, 1, 2}, idle)),
              (std::vector<double>{kInf, kInf, kInf}));
    // A first member with one value makes every longer vector count one value.
    auto short_first = individuals({{1}, {0, 7}, {2, 9}});
    EXPECT_EQ(distances(hivekit::crowding_distance(short_first, std::vector<std::size_t>{0, 1, 2}, idle)),
              (std::vector<double>{1.0, kInf, kInf}));
}

TEST(ParetoSelectByFronts, TakesWholeFrontsInOrder) {
    auto pop = individuals({{5, 5}, {0, 4}, {1, 2}, {3, 1}, {4, 0}});
    EXPECT_EQ(hivekit::select_indices_by_fronts(pop, 5, idle), (std::vector<std::size_t>{1, 2, 3, 4, 0}));
    EXPECT_EQ(hivekit::select_indices_by_fronts(pop, 4, idle), (std::vector<std::size_t>{1, 2, 3, 4}));
    EXPECT_TRUE(hivekit::select_indices_by_fronts(pop, 0, idle).empty());
}

TEST(ParetoSelectByFronts, CutsAFrontByCrowdingLargestFirst) {
    auto pop = individuals(kStaircase);
    EXPECT_EQ(hivekit::select_indices_by_fronts(pop, 3, idle), (std::vector<std::size_t>{0, 3, 1}));
    auto chosen = hivekit::select_by_fronts(pop, 3, idle);
    ASSERT_EQ(chosen.size(), 3u);
    EXPECT_EQ(chosen[2].objectives, (std::vector<double>{1, 2}));
    EXPECT_EQ(chosen[2].position, (std::vector<double>{1}));
}

TEST(ParetoHypervolume, WorkedExample) {
    EXPECT_EQ(hivekit::hypervolume_2d({{0, 0.5}, {0.5, 0}}), 0.75);
    EXPECT_EQ(hivekit::hypervolume_2d({{0.5, 0}, {0, 0.5}}), 0.75);
}

TEST(ParetoHypervolume, PointsOutsideTheReferenceBoxAddNothing) {
    EXPECT_EQ(hivekit::hypervolume_2d({{1.0, 0.0}, {0.0, 1.0}, {1.5, -2.0}, {-1.0, 3.0}}), 0.0);
    EXPECT_EQ(hivekit::hypervolume_2d({}), 0.0);
}

TEST(ParetoHypervolume, SkipsShortVectorsAndDominatedPoints) {
    EXPECT_EQ(hivekit::hypervolume_2d({{0.5}, {0.5, 0.5}, {0.75, 0.75}, {}}), 0.25);
}

TEST(ParetoStableSort, KeepsTiesInInputOrder) {
    std::vector<std::pair<int, int>> items = {{2, 0}, {1, 1}, {2, 2}, {0, 3}, {1, 4}, {2, 5}, {0, 6}};
    hivekit::sort_nan_tied_by_widths(std::span(items), [](auto a, auto b) { return a.first < b.first; }, idle);
    EXPECT_EQ(items, (std::vector<std::pair<int, int>>{{0, 3}, {0, 6}, {1, 1}, {1, 4}, {2, 0}, {2, 2}, {2, 5}}));
}

TEST(ParetoStableSort, NaNKeysStillGiveAPermutation) {
    std::vector<double> items = {3, kNaN, 1, kNaN, 2, 0, kNaN, 5, 4};
    hivekit::sort_nan_tied_by_widths(std::span(items), [](double a, double b) { return a < b; }, idle);
    EXPECT_EQ(std::count_if(items.begin(), items.end(), [](double v) { return std::isnan(v); }), 3);
    std::vector<double> numbers;
    for (double v : items)
        if (!std::isnan(v)) numbers.push_back(v);
    std::sort(numbers.begin(), numbers.end());
    EXPECT_EQ(numbers, (std::vector<double>{0, 1, 2, 3, 4, 5}));
}

}  // namespace
