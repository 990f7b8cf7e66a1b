// Nsga2Optimizer body: evaluation counts, the edge sizes, the archive and
// populations that dominance cycles empty.
#include <gtest/gtest.h>

#include <span>
#include <vector>

#include "algorithms/nsga2.hpp"
#include "algorithms/pareto.hpp"
#include "core/random_source.hpp"
#include "recorded_problem.hpp"

namespace {

using hivekit::Bounds;
using hivekit::Nsga2Params;
using hivekit::RunResult;
using namespace hivekit::test_support;

std::vector<double> schaffer(std::span<const double> x) { return {x[0] * x[0], (x[0] - 2.0) * (x[0] - 2.0)}; }

RunResult run(RecordedObjectives& problem, const Bounds& bounds, const Nsga2Params& params, std::uint64_t seed = 7) {
    auto outcome = hivekit::run_nsga2(problem, bounds, params, seed);
    return std::get<RunResult>(outcome);
}

TEST(Nsga2, EvaluatesEveryIndividualOncePerGeneration) {
    RecordedObjectives problem(1, schaffer);
    Nsga2Params params;
    params.n_individuals = 5;
    params.n_iterations = 4;
    run(problem, box({-1}, {3}), params);
    EXPECT_EQ(problem.seen.size(), 5u * (1 + 4));
}

TEST(Nsga2, ZeroGenerationsKeepTheInitialDraws) {
    RecordedObjectives problem(2, schaffer);
    Nsga2Params params;
    params.n_individuals = 3;
    params.n_iterations = 0;
    auto result = run(problem, box({-1, 10}, {3, 12}), params, 11);
    auto rng = hivekit::RandomSource::from_seed_u64(11);
    std::vector<std::vector<double>> expected(3);
    for (auto& row : expected) {
        row.push_back(-1.0 + rng.uniform() * 4.0);
        row.push_back(10.0 + rng.uniform() * 2.0);
    }
    EXPECT_EQ(result.population, expected);
    EXPECT_EQ(result.archive_positions.size(), 3u);
    EXPECT_EQ(problem.seen.size(), 3u);
}

TEST(Nsga2, NoIndividualsGiveAnEmptyResult) {
    RecordedObjectives problem(1, schaffer);
    Nsga2Params params;
    params.n_individuals = 0;
    auto result = run(problem, box({-1}, {3}), params);
    EXPECT_TRUE(result.population.empty());
    EXPECT_TRUE(result.archive_positions.empty());
    EXPECT_TRUE(result.archive_objectives.empty());
    EXPECT_EQ(problem.seen.size(), 0u);
}

TEST(Nsga2, ZeroArchiveSizeStillKeepsThePopulation) {
    RecordedObjectives problem(1, schaffer);
    Nsga2Params params;
    params.n_individuals = 6;
    params.n_iterations = 2;
    params.archive_size = 0;
    auto result = run(problem, box({-1}, {3}), params);
    EXPECT_EQ(result.population.size(), 6u);
    EXPECT_TRUE(result.archive_positions.empty());
    EXPECT_TRUE(result.archive_objectives.empty());
}

TEST(Nsga2, SmallArchiveHoldsOnlyNonDominatedMembers) {
    RecordedObjectives problem(1, schaffer);
    Nsga2Params params;
    params.n_individuals = 12;
    params.n_iterations = 5;
    params.archive_size = 4;
    auto result = run(problem, box({-1}, {3}), params);
    ASSERT_EQ(result.archive_objectives.size(), 4u);
    for (std::size_t k = 0; k < 4; ++k) {
        EXPECT_EQ(result.archive_objectives[k], schaffer(result.archive_positions[k]));
        for (const auto& position : result.population)
            EXPECT_FALSE(hivekit::dominates(schaffer(position), result.archive_objectives[k]));
    }
}

TEST(Nsga2, EmptyBoxIsInvalidInput) {
    RecordedObjectives problem(0, schaffer);
    auto outcome = hivekit::run_nsga2(problem, box({}, {}), Nsga2Params{}, 1);
    const auto& error = std::get<hivekit::OptimizerError>(outcome);
    EXPECT_EQ(error.kind, hivekit::ErrorKind::InvalidInput);
    EXPECT_EQ(error.message, "bounds must not be empty");
}

TEST(Nsga2, DominanceCycleEmptiesThePopulationAndTheRunGoesOn) {
    // Three vectors that dominate one another in a ring: nobody is in a front.
    const std::vector<std::vector<double>> ring = {{0, kNaN, 1}, {1, 0, kNaN}, {kNaN, 1, 0}};
    std::size_t next = 0;
    RecordedObjectives problem(1, [&](std::span<const double>) { return ring[next++ % 3]; });
    Nsga2Params params;
    params.n_individuals = 3;
    params.n_iterations = 4;
    auto result = run(problem, box({0}, {1}), params);
    // The first generation still breeds from the ring; its survivors are none.
    EXPECT_EQ(problem.seen.size(), 6u);
    EXPECT_TRUE(result.population.empty());
    EXPECT_TRUE(result.archive_positions.empty());
}

TEST(Nsga2, HugePopulationIsReportedAsAllocationFailure) {
    RecordedObjectives problem(3, schaffer);
    Nsga2Params params;
    params.n_individuals = std::uint64_t{1} << 62;
    EXPECT_TRUE(allocation_fails([&] { hivekit::run_nsga2(problem, box({0, 0, 0}, {1, 1, 1}), params, 1); }));
    EXPECT_EQ(problem.seen.size(), 0u);
}

}  // namespace
