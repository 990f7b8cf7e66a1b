// The pieces the bodies share, on hand-checked cases: the box, NaN-aware comparisons, the memory
// guard, NaN-tied orderings and Pareto machinery. Number formats and box messages are checked from Python.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <new>
#include <numeric>
#include <string>
#include <tuple>
#include <utility>

#include "algorithms/common.hpp"
#include "algorithms/ordering.hpp"
#include "algorithms/pareto.hpp"
#include "core/memory.hpp"
#include "core/numeric.hpp"
#include "core/random_source.hpp"
#include "recorder.hpp"

namespace hivekit {
namespace {

using namespace hivekit::test_support;
using Values = std::vector<double>;
using Indices = std::vector<std::size_t>;
WorkMeter idle;

Indices order(std::span<const std::size_t> ranked) { return {ranked.begin(), ranked.end()}; }

TEST(Bounds, AcceptsEqualAndNaNLimitsAndClipsRaisingThenLowering) {
    EXPECT_TRUE(std::holds_alternative<Bounds>(Bounds::make({1.5, kNaN, 0}, {1.5, 1, kNaN})));
    Values x{-3, 0.25, 7, kNaN, -0.0}, y{3.0};
    box({-1, -1, -1, -1, 0}, {1, 1, 1, 1, 0}).clip(x);
    EXPECT_EQ(x, (Values{-1, 0.25, 1, -1, 0}));  // NaN ends at the lower limit
    EXPECT_TRUE(std::signbit(x[4]));  // -0 against limits +0: equal operands keep the coordinate
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
    for (auto [f, best, want] : {std::tuple{1.0, 2.0, true}, {2.0, 2.0, false}, {kInf, kNaN, true},
                                 {kNaN, 1.0, false}, {kNaN, kNaN, false}})
        EXPECT_EQ(improves(f, best), want) << f << " " << best;
}

TEST(Memory, AWorkingSetBeyondPhysicalMemoryIsRefusedWithItsSizeEvenWhenTheProductOverflows) {
    const std::size_t physical = physical_memory_bytes(), most = physical / 8;
    EXPECT_NE(physical, static_cast<std::size_t>(PTRDIFF_MAX)) << "the system told nothing of its memory";
    EXPECT_NO_THROW(require_resident(most, 8));
    EXPECT_NO_THROW(require_resident(SIZE_MAX, 0));
    EXPECT_THROW(require_resident(SIZE_MAX, SIZE_MAX), WorkingSetTooLarge);
    try {
        require_resident(most + 1, 8);
        ADD_FAILURE() << "accepted";
    } catch (const WorkingSetTooLarge& refusal) {
        EXPECT_EQ(std::string(refusal.what()), "working set of " + std::to_string(most + 1) +
                                                   " items of 8 bytes exceeds the " + std::to_string(physical) +
                                                   " bytes of physical memory");
    }
}

// Without NaN keys both merge patterns, and the rankings built on the first, are
// stable sorts; a reused ranking carries nothing from one use to the next.
TEST(NaNTiedSorts, WithoutNaNEqualKeysKeepTheirOrder) {
    RandomSource rng = RandomSource::from_seed_u64(9);
    ValueRanking ranking(0);
    for (std::size_t n : {0u, 1u, 3u, 8u, 16u, 33u, 100u}) {
        Values v(n);
        for (double& x : v) x = static_cast<double>(rng.index_below(6));  // many ties
        if (n == 8) v[6] = -0.0, v[7] = 0.0;
        for (bool up : {true, false}) {
            const auto before = [&](std::size_t a, std::size_t b) { return up ? v[a] < v[b] : v[a] > v[b]; };
            Indices stable(n);
            std::iota(stable.begin(), stable.end(), std::size_t{0});
            Indices halves = stable, widths = stable;
            sort_nan_tied_by_halves(std::span(halves), before, idle);
            sort_nan_tied_by_widths(std::span(widths), before, idle);
            std::stable_sort(stable.begin(), stable.end(), before);
            EXPECT_TRUE(halves == stable && widths == stable) << n;
            EXPECT_EQ(order(up ? ranking.ascending(v, idle) : ranking.descending(v, idle)), stable) << n;
        }
    }
}

// With a NaN key the two merge patterns disagree, and each one's placement is
// part of the results of the bodies that use it; worked through the merges by hand.
TEST(NaNTiedSorts, ANaNIsNeverBeforeAnythingNorAnythingBeforeIt) {
    const auto less = [](double a, double b) { return a < b; };
    Values by_halves = {3, kNaN, 1}, by_widths = by_halves;
    sort_nan_tied_by_halves(std::span(by_halves), less, idle);
    sort_nan_tied_by_widths(std::span(by_widths), less, idle);
    EXPECT_TRUE(by_halves[0] == 3 && std::isnan(by_halves[1]) && by_halves[2] == 1);
    EXPECT_TRUE(by_widths[0] == 1 && by_widths[1] == 3 && std::isnan(by_widths[2]));
    ValueRanking ranking(5);
    EXPECT_EQ(order(ranking.ascending(Values{kNaN, 3, 1, 2, 0}, idle)), (Indices{0, 4, 2, 3, 1}));
    EXPECT_EQ(order(ranking.ascending(Values{3, 1, 2, 0, kNaN}, idle)), (Indices{3, 1, 2, 0, 4}));
    EXPECT_EQ(order(ranking.ascending(Values{kNaN, 4, kNaN, 1, 2, kNaN, 0}, idle)), (Indices{0, 3, 4, 1, 2, 5, 6}));
    EXPECT_EQ(order(ranking.descending(Values{kNaN, 3, 1, 2, 0}, idle)), (Indices{0, 1, 3, 2, 4}));
    EXPECT_EQ(order(ranking.ascending(Values(5, kNaN), idle)), (Indices{0, 1, 2, 3, 4}));
}

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

const std::vector<Values> kStaircase = {{0, 4}, {1, 2}, {3, 1}, {4, 0}};  // crowding exact in binary

TEST(Pareto, DominanceIsNowhereGreaterSomewhereLessOverTheShorterLengthWithNaNAsEqual) {
    for (auto [a, b, want] : std::vector<std::tuple<Values, Values, bool>>{
             {{1, 2}, {1, 3}, true}, {{1, 2}, {1, 2}, false}, {{0, 3}, {1, 2}, false}, {{1, 9}, {2}, true},
             {{}, {1}, false}, {{kNaN, 1}, {0, 2}, true}, {{kNaN, 2}, {0, 2}, false}})
        EXPECT_EQ(dominates(a, b), want) << testing::PrintToString(a) << testing::PrintToString(b);
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
    EXPECT_TRUE(chosen[2].objectives == (Values{1, 2}) && chosen[2].position == (Values{1}));
}

TEST(Pareto, HypervolumeCountsTheAreaInsideTheReferenceBoxOnce) {
    EXPECT_EQ(hypervolume_2d({{0, 0.5}, {0.5, 0}}), 0.75);
    EXPECT_EQ(hypervolume_2d({{0.5, 0}, {0, 0.5}}), 0.75);
    EXPECT_EQ(hypervolume_2d({{1.0, 0.0}, {0.0, 1.0}, {1.5, -2.0}, {-1.0, 3.0}}), 0.0);
    EXPECT_EQ(hypervolume_2d({}), 0.0);
    EXPECT_EQ(hypervolume_2d({{0.5}, {0.5, 0.5}, {0.75, 0.75}, {}}), 0.25);
}

}  // namespace
}  // namespace hivekit
