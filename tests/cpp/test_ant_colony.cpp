// AntColony: results of the four variants, the order of its draws, the edge
// cases of the choice rule, and how it treats NaN costs and interrupts.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <numeric>
#include <vector>

#include "algorithms/ant_colony.hpp"
#include "core/random_source.hpp"
#include "tour_fixtures.hpp"

namespace {

using hivekit::AntColonyParams;
using hivekit::AntVariant;
using hivekit::DistanceMatrix;
using hivekit::RunResult;
using tour_fixtures::CountingTour;
using tour_fixtures::random_plane;
using Tour = std::vector<std::size_t>;

const AntVariant kAllVariants[] = {AntVariant::Basic, AntVariant::Acs, AntVariant::Elitist, AntVariant::Mmas};

AntColonyParams small(AntVariant variant = AntVariant::Basic) {
    AntColonyParams p;
    p.n_ants = 5;
    p.n_iterations = 6;
    p.variant = variant;
    return p;
}

// One ant, one iteration, no polishing: the result is that ant's walk.
AntColonyParams single_walk(AntVariant variant = AntVariant::Basic) {
    AntColonyParams p = small(variant);
    p.n_ants = 1;
    p.n_iterations = 1;
    p.use_two_opt = false;
    return p;
}

RunResult run(const DistanceMatrix& d, const AntColonyParams& params, std::uint64_t seed = 7) {
    CountingTour problem(d);
    return std::get<RunResult>(hivekit::run_ant_colony(problem, params, seed));
}

Tour cities_of(const std::vector<double>& position) { return {position.begin(), position.end()}; }

bool is_permutation_of_cities(const std::vector<double>& position, std::size_t n) {
    Tour tour = cities_of(position), all(n);
    std::sort(tour.begin(), tour.end());
    std::iota(all.begin(), all.end(), std::size_t{0});
    return tour == all;
}

void expect_same(const RunResult& a, const RunResult& b) {
    ASSERT_TRUE(a.best_value && b.best_value);
    EXPECT_EQ(std::bit_cast<std::uint64_t>(*a.best_value), std::bit_cast<std::uint64_t>(*b.best_value));
    EXPECT_EQ(*a.best_solution, *b.best_solution);
}

TEST(AntColony, OneCityTourIsTheDiagonal) {
    RunResult r = run(DistanceMatrix(1, {2.5}), small());
    EXPECT_EQ(*r.best_value, 2.5);
    EXPECT_EQ(*r.best_solution, std::vector<double>{0.0});
}

TEST(AntColony, EveryVariantReturnsAPermutationAndItsLength) {
    DistanceMatrix d = random_plane(12, 1);
    for (AntVariant v : kAllVariants) {
        RunResult r = run(d, small(v));
        ASSERT_TRUE(is_permutation_of_cities(*r.best_solution, 12));
        EXPECT_EQ(*r.best_value, hivekit::TourProblem(d).evaluate(*r.best_solution));
        expect_same(r, run(d, small(v)));
    }
}

TEST(AntColony, EvaluatesEachAntOncePerIteration) {
    CountingTour problem(random_plane(9, 3));
    AntColonyParams p = small();
    hivekit::run_ant_colony(problem, p, 1);
    EXPECT_EQ(problem.evaluations, p.n_ants * p.n_iterations);
    EXPECT_GE(problem.checks, p.n_ants * p.n_iterations);
}

TEST(AntColony, NoAntsOrNoIterationsFindNoTour) {
    for (auto [ants, iterations] : {std::pair{0, 5}, std::pair{5, 0}}) {
        CountingTour problem(random_plane(6, 4));
        AntColonyParams p = small();
        p.n_ants = ants;
        p.n_iterations = iterations;
        auto r = std::get<RunResult>(hivekit::run_ant_colony(problem, p, 1));
        EXPECT_FALSE(r.best_value);
        EXPECT_FALSE(r.best_solution);
        EXPECT_EQ(problem.evaluations, 0u);
    }
}

TEST(AntColony, TwoOptIsNotAppliedBelowFourCities) {
    DistanceMatrix d(3, {0, 1, 7, 2, 0, 1, 9, 3, 0});
    AntColonyParams without = small();
    without.use_two_opt = false;
    expect_same(run(d, small()), run(d, without));
}

TEST(AntColony, TwoOptPolishesTheAnts) {
    DistanceMatrix d = random_plane(30, 5);
    AntColonyParams without = small();
    without.use_two_opt = false;
    EXPECT_LT(*run(d, small()).best_value, *run(d, without).best_value);
}

TEST(AntColony, BasicKindIgnoresTheOtherKindsSettings) {
    DistanceMatrix d = random_plane(10, 6);
    AntColonyParams other = small();
    other.q0 = 0.1;
    other.elitist_weight = 50.0;
    other.tau_min = 3.0;
    other.tau_max = 4.0;
    expect_same(run(d, small()), run(d, other));
}

TEST(AntColony, EachVariantSearchesDifferently) {
    DistanceMatrix d = random_plane(20, 8);
    AntColonyParams basic = small();
    basic.use_two_opt = false;
    basic.n_iterations = 30;
    for (AntVariant v : {AntVariant::Acs, AntVariant::Elitist, AntVariant::Mmas}) {
        AntColonyParams other = basic;
        other.variant = v;
        EXPECT_NE(*run(d, basic).best_solution, *run(d, other).best_solution) << static_cast<int>(v);
    }
}

// With q0 = 1 every ACS step is greedy: after the start city the only draws
// are the ACS tests, and on equal pheromone the heaviest edge leads to the
// nearest unvisited city.
TEST(AntColony, CertainlyGreedyAcsWalksToTheNearestCityFromTheSeededStart) {
    const std::size_t n = 8;
    DistanceMatrix d = random_plane(n, 9);
    AntColonyParams p = single_walk(AntVariant::Acs);
    p.q0 = 1.0;
    RunResult r = run(d, p, 42);

    auto rng = hivekit::RandomSource::from_seed_u64(42);
    Tour expected{static_cast<std::size_t>(rng.index_below(n))};
    std::vector<bool> seen(n, false);
    seen[expected[0]] = true;
    while (expected.size() < n) {
        std::size_t from = expected.back(), pick = n;
        for (std::size_t j = 0; j < n; ++j)
            if (!seen[j] && (pick == n || d(from, j) <= d(from, pick))) pick = j;
        seen[pick] = true;
        expected.push_back(pick);
    }
    EXPECT_EQ(cities_of(*r.best_solution), expected);
}

// Weights that underflow to zero, or overflow to infinity, leave no usable
// roulette: each step then draws one index into the unvisited cities, listed
// in ascending order.
TEST(AntColony, UnusableWeightsPickUniformlyAmongUnvisitedCities) {
    const std::size_t n = 7;
    for (double distance : {10.0, 1e-5}) {
        AntColonyParams p = single_walk();
        p.beta = 1e6;
        RunResult r = run(DistanceMatrix(n, std::vector<double>(n * n, distance)), p, 5);

        auto rng = hivekit::RandomSource::from_seed_u64(5);
        Tour unvisited(n), expected;
        std::iota(unvisited.begin(), unvisited.end(), std::size_t{0});
        while (!unvisited.empty()) {
            std::size_t k = rng.index_below(unvisited.size());
            expected.push_back(unvisited[k]);
            unvisited.erase(unvisited.begin() + static_cast<std::ptrdiff_t>(k));
        }
        EXPECT_EQ(cities_of(*r.best_solution), expected) << distance;
    }
}

TEST(AntColony, AllZeroMatrixGivesLengthZero) {
    DistanceMatrix d(6, std::vector<double>(36, 0.0));
    for (AntVariant v : kAllVariants) {
        RunResult r = run(d, small(v));
        EXPECT_EQ(*r.best_value, 0.0);
        EXPECT_TRUE(is_permutation_of_cities(*r.best_solution, 6));
    }
}

TEST(AntColony, NaNCostNeverBecomesTheBest) {
    CountingTour problem(random_plane(8, 10));
    problem.nan_evaluations = 3;
    auto r = std::get<RunResult>(hivekit::run_ant_colony(problem, small(), 1));
    ASSERT_TRUE(r.best_value);
    EXPECT_FALSE(std::isnan(*r.best_value));

    CountingTour only_nan(random_plane(8, 10));
    only_nan.nan_evaluations = 1000;
    r = std::get<RunResult>(hivekit::run_ant_colony(only_nan, small(AntVariant::Elitist), 1));
    EXPECT_FALSE(r.best_value);
    EXPECT_FALSE(r.best_solution);
}

TEST(AntColony, InterruptStopsTheRun) {
    CountingTour problem(random_plane(40, 11));
    problem.stop_at_check = 25;
    EXPECT_THROW(hivekit::run_ant_colony(problem, small(), 1), hivekit::EvaluationAborted);
    EXPECT_EQ(problem.checks, 25u);
}

TEST(AntColony, ProblemWithoutMatrixIsRejected) {
    tour_fixtures::NoMatrix plain;
    auto outcome = hivekit::run_ant_colony(plain, small(), 1);
    ASSERT_TRUE(std::holds_alternative<hivekit::OptimizerError>(outcome));
    EXPECT_EQ(std::get<hivekit::OptimizerError>(outcome).kind, hivekit::ErrorKind::InvalidInput);
}

}  // namespace
