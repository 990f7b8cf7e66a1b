// PermutationGeneticOptimizer: order crossover, the order of its draws, its
// evaluation counts, its history and ranking, and its refusals.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numeric>
#include <vector>

#include "algorithms/permutation_genetic.hpp"
#include "algorithms/tour.hpp"
#include "core/random_source.hpp"
#include "tour_fixtures.hpp"

namespace {

using hivekit::DistanceMatrix;
using hivekit::OptimizerError;
using hivekit::PermutationGeneticParams;
using hivekit::RunResult;
using tour_fixtures::CountingTour;
using tour_fixtures::random_plane;
using Tour = std::vector<std::size_t>;

PermutationGeneticParams params(std::uint64_t individuals, std::uint64_t iterations, bool two_opt = false) {
    PermutationGeneticParams p;
    p.n_individuals = individuals;
    p.n_iterations = iterations;
    p.use_two_opt = two_opt;
    return p;
}

hivekit::Outcome run(CountingTour& problem, const PermutationGeneticParams& p, std::uint64_t seed = 3) {
    return hivekit::run_permutation_genetic(problem, p, seed);
}

RunResult result_of(const DistanceMatrix& d, const PermutationGeneticParams& p, std::uint64_t seed = 3) {
    CountingTour problem(d);
    return std::get<RunResult>(run(problem, p, seed));
}

Tour cities_of(const std::vector<double>& position) { return {position.begin(), position.end()}; }

Tour crossover(const Tour& first, const Tour& second, std::size_t start, std::size_t end) {
    Tour child(first.size());
    std::vector<unsigned char> placed;
    hivekit::order_crossover(first, second, start, end, child, placed);
    return child;
}

std::string error_text(const hivekit::Outcome& outcome) {
    return std::get<OptimizerError>(outcome).display();
}

TEST(OrderCrossover, KeepsTheSegmentAndFillsFromTheSecondParentAfterIt) {
    EXPECT_EQ(crossover({0, 1, 2, 3, 4, 5}, {5, 4, 3, 2, 1, 0}, 1, 2), (Tour{0, 1, 2, 5, 4, 3}));
}

TEST(OrderCrossover, SegmentReachingTheEndFillsFromPositionZero) {
    EXPECT_EQ(crossover({0, 1, 2, 3, 4}, {4, 2, 0, 3, 1}, 3, 4), (Tour{2, 0, 1, 3, 4}));
}

TEST(OrderCrossover, WholeSegmentCopiesTheFirstParent) {
    EXPECT_EQ(crossover({3, 1, 0, 2}, {0, 1, 2, 3}, 0, 3), (Tour{3, 1, 0, 2}));
}

TEST(PermutationGenetic, RejectsFewerThanThreeCities) {
    for (std::size_t n : {1, 2}) {
        CountingTour problem(random_plane(n, 1));
        EXPECT_EQ(error_text(run(problem, params(4, 2))), "Invalid input: distance matrix must have at least 3 cities");
    }
}

TEST(PermutationGenetic, RejectsAProblemWithoutDistanceMatrix) {
    tour_fixtures::NoMatrix plain;
    EXPECT_EQ(error_text(hivekit::run_permutation_genetic(plain, params(4, 2), 1)),
              "Invalid input: GA requires a discrete distance matrix");
}

TEST(PermutationGenetic, RejectsAnEmptyPopulationThatWouldHaveGenerations) {
    CountingTour problem(random_plane(5, 1));
    EXPECT_EQ(error_text(run(problem, params(0, 1))), "Invalid input: n_individuals must be at least 1");
    EXPECT_EQ(problem.evaluations, 0u);
}

TEST(PermutationGenetic, EmptyPopulationWithoutGenerationsHasNoBest) {
    CountingTour problem(random_plane(5, 1));
    RunResult r = std::get<RunResult>(run(problem, params(0, 0)));
    EXPECT_FALSE(r.best_value);
    EXPECT_FALSE(r.best_solution);
    EXPECT_TRUE(r.history.empty());
    EXPECT_TRUE(r.population.empty());
}

TEST(PermutationGenetic, ThreeCitiesAreAcceptedAndNeverPolished) {
    DistanceMatrix d(3, {0, 1, 7, 2, 0, 1, 9, 3, 0});
    RunResult with = result_of(d, params(5, 4, true));
    RunResult without = result_of(d, params(5, 4, false));
    EXPECT_EQ(with.population, without.population);
    EXPECT_EQ(with.history, without.history);
}

TEST(PermutationGenetic, EvaluatesEachIndividualAndEachChildOnce) {
    CountingTour problem(random_plane(9, 2));
    run(problem, params(7, 5, true));
    EXPECT_EQ(problem.evaluations, 7u + 6u * 5u);
}

// Without generations the result is the shuffled initial population in rank
// order: n_individuals shuffles of the identity, drawn one after the other.
TEST(PermutationGenetic, InitialPopulationIsOneShufflePerIndividualInRankOrder) {
    DistanceMatrix d = random_plane(8, 4);
    RunResult r = result_of(d, params(5, 0), 77);

    auto rng = hivekit::RandomSource::from_seed_u64(77);
    std::vector<std::pair<double, Tour>> expected;
    for (int i = 0; i < 5; ++i) {
        Tour t(8);
        std::iota(t.begin(), t.end(), std::size_t{0});
        rng.shuffle(std::span<std::size_t>(t));
        expected.emplace_back(hivekit::closed_tour_length(t, d), t);
    }
    std::stable_sort(expected.begin(), expected.end(), [](auto& a, auto& b) { return a.first < b.first; });
    ASSERT_EQ(r.population.size(), 5u);
    for (std::size_t i = 0; i < 5; ++i) EXPECT_EQ(cities_of(r.population[i]), expected[i].second);
    EXPECT_TRUE(r.history.empty());
    EXPECT_EQ(*r.best_value, expected[0].first);
}

// One child with certain mutation: two tournaments, the segment, the mutation
// test and the two swap positions, in this order, after the two shuffles.
TEST(PermutationGenetic, OneChildDrawsTournamentsSegmentAndMutationInOrder) {
    const std::size_t n = 9;
    DistanceMatrix d = random_plane(n, 5);
    PermutationGeneticParams p = params(2, 1);
    p.mutation_rate = 1.0;
    RunResult r = result_of(d, p, 123);

    auto rng = hivekit::RandomSource::from_seed_u64(123);
    std::vector<Tour> initial(2, Tour(n));
    std::vector<double> cost(2);
    for (int i = 0; i < 2; ++i) {
        std::iota(initial[i].begin(), initial[i].end(), std::size_t{0});
        rng.shuffle(std::span<std::size_t>(initial[i]));
        cost[i] = hivekit::closed_tour_length(initial[i], d);
    }
    const Tour ranked = cost[1] < cost[0] ? Tour{1, 0} : Tour{0, 1};
    auto pick = [&] {
        std::size_t a = ranked[rng.index_below(2)], b = ranked[rng.index_below(2)];
        return cost[a] <= cost[b] ? a : b;
    };
    std::size_t first = pick(), second = pick();
    std::size_t start = rng.index_below(n);
    std::size_t end = start + rng.index_below(n - start);
    Tour child = crossover(initial[first], initial[second], start, end);
    rng.uniform();  // the mutation test, always passed at rate 1
    std::size_t a = rng.index_below(n), b = rng.index_below(n);
    std::swap(child[a], child[b]);

    const Tour& elite = initial[ranked[0]];
    const double child_cost = hivekit::closed_tour_length(child, d);
    std::vector<Tour> expected = child_cost < cost[ranked[0]] ? std::vector<Tour>{child, elite}
                                                              : std::vector<Tour>{elite, child};
    ASSERT_EQ(r.population.size(), 2u);
    EXPECT_EQ(cities_of(r.population[0]), expected[0]);
    EXPECT_EQ(cities_of(r.population[1]), expected[1]);
    EXPECT_EQ(r.history, std::vector<double>{cost[ranked[0]]});
}

TEST(PermutationGenetic, HistoryHasOneNonIncreasingEntryPerGeneration) {
    RunResult r = result_of(random_plane(12, 6), params(10, 25));
    ASSERT_EQ(r.history.size(), 25u);
    for (std::size_t g = 1; g < r.history.size(); ++g) EXPECT_LE(r.history[g], r.history[g - 1]);
    EXPECT_LE(*r.best_value, r.history.back());
}

TEST(PermutationGenetic, SingleIndividualNeverChanges) {
    CountingTour problem(random_plane(7, 7));
    RunResult r = std::get<RunResult>(run(problem, params(1, 6)));
    EXPECT_EQ(problem.evaluations, 1u);
    ASSERT_EQ(r.population.size(), 1u);
    EXPECT_EQ(r.history, std::vector<double>(6, *r.best_value));
}

TEST(PermutationGenetic, PopulationIsRankedPermutationsWithTheBestFirst) {
    DistanceMatrix d = random_plane(10, 8);
    RunResult r = result_of(d, params(12, 10, true));
    hivekit::TourProblem tour(d);
    Tour all(10);
    std::iota(all.begin(), all.end(), std::size_t{0});
    double previous = -1.0;
    for (const auto& row : r.population) {
        Tour sorted = cities_of(row);
        std::sort(sorted.begin(), sorted.end());
        EXPECT_EQ(sorted, all);
        EXPECT_GE(tour.evaluate(row), previous);
        previous = tour.evaluate(row);
    }
    EXPECT_EQ(*r.best_solution, r.population.front());
    EXPECT_EQ(*r.best_value, tour.evaluate(*r.best_solution));
}

TEST(PermutationGenetic, InitialTwoOptShortensTheStartingTours) {
    DistanceMatrix d = random_plane(20, 9);
    EXPECT_LT(*result_of(d, params(6, 0, true)).best_value, *result_of(d, params(6, 0, false)).best_value);
}

TEST(PermutationGenetic, SameSeedGivesTheSameResult) {
    DistanceMatrix d = random_plane(11, 10);
    RunResult a = result_of(d, params(8, 12, true), 5), b = result_of(d, params(8, 12, true), 5);
    EXPECT_EQ(a.population, b.population);
    EXPECT_EQ(a.history, b.history);
}

TEST(PermutationGenetic, NaNCostRanksLast) {
    CountingTour problem(random_plane(6, 11));
    problem.nan_evaluations = 1;
    RunResult r = std::get<RunResult>(run(problem, params(4, 0)));
    ASSERT_EQ(r.population.size(), 4u);
    EXPECT_FALSE(std::isnan(*r.best_value));
    hivekit::TourProblem tour(*problem.distance_matrix());
    EXPECT_EQ(*r.best_value, tour.evaluate(r.population[0]));
}

// One individual makes no child and no evaluation in a generation: only the
// interrupt checks can end such a run before its last generation.
TEST(PermutationGenetic, InterruptStopsTheRun) {
    CountingTour problem(random_plane(10, 12));
    problem.stop_at_check = 30;
    EXPECT_THROW(run(problem, params(1, 30'000'000)), hivekit::EvaluationAborted);
    EXPECT_EQ(problem.checks, 30u);
}

}  // namespace
