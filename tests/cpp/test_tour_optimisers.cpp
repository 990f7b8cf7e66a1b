// AntColony and PermutationGeneticOptimizer beyond the contract suite and the
// recorded runs: the rule sets and settings those runs leave at one value,
// tiny and degenerate matrices, and costs that are not finite numbers.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <numeric>
#include <vector>

#include "algorithms/ant_colony.hpp"
#include "algorithms/permutation_genetic.hpp"
#include "core/random_source.hpp"
#include "core/tour_problem.hpp"
#include "tour_fixtures.hpp"

namespace hivekit {
namespace {

using tour_fixtures::CountingTour;
using tour_fixtures::random_plane;
using Tour = std::vector<std::size_t>;

RunResult ants(CountingTour&& problem, AntColonyParams params, std::uint64_t seed = 7) {
    return std::get<RunResult>(run_ant_colony(problem, params, seed));
}
RunResult genetic(CountingTour&& problem, PermutationGeneticParams params) {
    return std::get<RunResult>(run_permutation_genetic(problem, params, 3));
}
DistanceMatrix filled(std::size_t n, double value) { return DistanceMatrix(n, std::vector<double>(n * n, value)); }
Tour cities(const RunResult& r) { return {r.best_solution->begin(), r.best_solution->end()}; }

// One ant, one walk, no polishing: the result is that ant's walk.
constexpr AntColonyParams kOneWalk{.n_ants = 1, .n_iterations = 1, .use_two_opt = false};

TEST(AntColony, EachRuleSetSearchesDifferently) {
    const AntColonyParams basic{.n_ants = 5, .n_iterations = 30, .use_two_opt = false};
    for (AntVariant v : {AntVariant::Acs, AntVariant::Elitist, AntVariant::Mmas}) {
        AntColonyParams other = basic;
        other.variant = v;
        EXPECT_NE(cities(ants(CountingTour(random_plane(20, 8)), basic)),
                  cities(ants(CountingTour(random_plane(20, 8)), other)));
    }
}

// With q0 = 1 every ACS step is greedy: after the start city the only draws
// are the ACS tests, and on equal pheromone the heaviest edge leads to the
// nearest unvisited city.
TEST(AntColony, CertainlyGreedyAcsWalksToTheNearestCityFromTheSeededStart) {
    const std::size_t n = 8;
    const DistanceMatrix d = random_plane(n, 9);
    AntColonyParams p = kOneWalk;
    p.variant = AntVariant::Acs;
    p.q0 = 1.0;
    Tour expected{static_cast<std::size_t>(RandomSource::from_seed_u64(42).index_below(n))};
    std::vector<bool> seen(n, false);
    for (seen[expected[0]] = true; expected.size() < n; seen[expected.back()] = true) {
        std::size_t from = expected.back(), pick = n;
        for (std::size_t j = 0; j < n; ++j)
            if (!seen[j] && (pick == n || d(from, j) <= d(from, pick))) pick = j;
        expected.push_back(pick);
    }
    EXPECT_EQ(cities(ants(CountingTour(d), p, 42)), expected);
}

// Weights that underflow to zero or overflow to infinity leave no usable
// roulette: each step draws one index into the unvisited cities, in ascending order.
TEST(AntColony, UnusableWeightsPickUniformlyAmongUnvisitedCities) {
    for (double distance : {10.0, 1e-5}) {
        AntColonyParams p = kOneWalk;
        p.beta = 1e6;
        auto rng = RandomSource::from_seed_u64(5);
        Tour unvisited(7), expected;
        std::iota(unvisited.begin(), unvisited.end(), std::size_t{0});
        while (!unvisited.empty()) {
            const auto k = static_cast<std::ptrdiff_t>(rng.index_below(unvisited.size()));
            expected.push_back(unvisited[k]);
            unvisited.erase(unvisited.begin() + k);
        }
        EXPECT_EQ(cities(ants(CountingTour(filled(7, distance)), p, 5)), expected) << distance;
    }
}

TEST(AntColony, CostsThatAreNotPositiveNumbersNeverBecomeTheBestNorDeposit) {
    EXPECT_EQ(*ants(CountingTour(DistanceMatrix(1, {2.5})), {}).best_value, 2.5);  // one city: the diagonal
    for (AntVariant v : {AntVariant::Basic, AntVariant::Acs, AntVariant::Elitist, AntVariant::Mmas})
        EXPECT_EQ(*ants(CountingTour(filled(6, 0.0)), {.n_ants = 5, .n_iterations = 6, .variant = v}).best_value, 0.0);
    CountingTour some_nan(random_plane(8, 10));
    some_nan.nan_evaluations = 3;
    EXPECT_FALSE(std::isnan(*ants(std::move(some_nan), {.n_ants = 5, .n_iterations = 6}).best_value));
    // A fit in which no tour has a finite cost finds nothing.
    for (double value : {INFINITY, NAN})
        EXPECT_FALSE(ants(CountingTour(filled(6, value)), {.n_ants = 5, .variant = AntVariant::Elitist}).best_value);
}

TEST(PermutationGenetic, RefusesFewerThanThreeCitiesKeepsNoBestOfNoneAndRanksANaNCostLast) {
    for (std::size_t n : {1, 2}) {
        CountingTour problem(random_plane(n, 1));
        EXPECT_EQ(std::get<OptimizerError>(run_permutation_genetic(problem, {}, 1)).display(),
                  "Invalid input: distance matrix must have at least 3 cities");
    }
    EXPECT_FALSE(genetic(CountingTour(random_plane(5, 1)), {.n_individuals = 0, .n_iterations = 0}).best_value);
    CountingTour problem(random_plane(6, 11));
    problem.nan_evaluations = 1;
    const RunResult r = genetic(std::move(problem), {.n_individuals = 4, .n_iterations = 0, .use_two_opt = false});
    EXPECT_EQ(*r.best_value, TourProblem(random_plane(6, 11)).evaluate(r.population.front()));
}

TEST(PermutationGenetic, OrderCrossoverFillsFromTheSecondParentAfterTheSegment) {
    const auto child = [](const Tour& first, const Tour& second, std::size_t start, std::size_t end) {
        Tour out(first.size());
        std::vector<unsigned char> placed;
        order_crossover(first, second, start, end, out, placed);
        return out;
    };
    EXPECT_EQ(child({0, 1, 2, 3, 4}, {4, 2, 0, 3, 1}, 3, 4), (Tour{2, 0, 1, 3, 4}));  // wraps to position 0
    EXPECT_EQ(child({3, 1, 0, 2}, {0, 1, 2, 3}, 0, 3), (Tour{3, 1, 0, 2}));
}

TEST(TourOptimisers, TwoOptPolishesFromFourCitiesOn) {
    const DistanceMatrix three(3, {0, 1, 7, 2, 0, 1, 9, 3, 0}), twenty = random_plane(20, 9);
    const AntColonyParams a_on{.n_ants = 5, .n_iterations = 6}, a_off{.n_ants = 5, .n_iterations = 6, .use_two_opt = false};
    const PermutationGeneticParams g_on{.n_individuals = 6, .n_iterations = 4},
        g_off{.n_individuals = 6, .n_iterations = 4, .use_two_opt = false};
    EXPECT_EQ(cities(ants(CountingTour(three), a_on)), cities(ants(CountingTour(three), a_off)));
    EXPECT_EQ(genetic(CountingTour(three), g_on).population, genetic(CountingTour(three), g_off).population);
    EXPECT_LT(*ants(CountingTour(twenty), a_on).best_value, *ants(CountingTour(twenty), a_off).best_value);
    EXPECT_LT(*genetic(CountingTour(twenty), g_on).best_value, *genetic(CountingTour(twenty), g_off).best_value);
}

}  // namespace
}  // namespace hivekit
