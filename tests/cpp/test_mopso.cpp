// MopsoOptimizer body: evaluation counts, edge sizes, leader draws and the
// rule that only personal bests reach the archive.
#include <gtest/gtest.h>

#include <algorithm>
#include <span>
#include <vector>

#include "algorithms/mopso.hpp"
#include "algorithms/pareto.hpp"
#include "core/random_source.hpp"
#include "recorded_problem.hpp"

namespace {

using hivekit::Bounds;
using hivekit::MopsoParams;
using hivekit::RunResult;
using namespace hivekit::test_support;

std::vector<double> schaffer(std::span<const double> x) { return {x[0] * x[0], (x[0] - 2.0) * (x[0] - 2.0)}; }
std::vector<double> identity(std::span<const double> x) { return {x[0]}; }

RunResult run(RecordedObjectives& problem, const Bounds& bounds, const MopsoParams& params, std::uint64_t seed = 7) {
    return std::get<RunResult>(hivekit::run_mopso(problem, bounds, params, seed));
}

// The initial positions a seeded run draws in a box [lower, lower + width)^d.
std::vector<std::vector<double>> initial_positions(std::uint64_t seed, std::size_t n, std::size_t d, double lower,
                                                   double width) {
    auto rng = hivekit::RandomSource::from_seed_u64(seed);
    std::vector<std::vector<double>> rows(n);
    for (auto& row : rows)
        for (std::size_t j = 0; j < d; ++j) row.push_back(lower + rng.uniform() * width);
    return rows;
}

TEST(Mopso, EvaluatesEveryParticleOncePerIteration) {
    RecordedObjectives problem(2, schaffer);
    MopsoParams params;
    params.n_particles = 4;
    params.n_iterations = 6;
    run(problem, box({-1, -1}, {3, 3}), params);
    EXPECT_EQ(problem.seen.size(), 4u * (1 + 6));
}

TEST(Mopso, ZeroIterationsArchiveTheInitialSwarmByFronts) {
    RecordedObjectives problem(1, identity);
    MopsoParams params;
    params.n_particles = 5;
    params.n_iterations = 0;
    auto result = run(problem, box({0}, {1}), params, 5);
    EXPECT_EQ(result.population, initial_positions(5, 5, 1, 0.0, 1.0));
    ASSERT_EQ(result.archive_objectives.size(), 5u);
    // With one objective every front is one value, so the archive is sorted.
    for (std::size_t k = 1; k < 5; ++k) EXPECT_LT(result.archive_objectives[k - 1][0], result.archive_objectives[k][0]);
}

TEST(Mopso, NoParticlesGiveAnEmptyResult) {
    RecordedObjectives problem(1, schaffer);
    MopsoParams params;
    params.n_particles = 0;
    auto result = run(problem, box({-1}, {3}), params);
    EXPECT_TRUE(result.population.empty());
    EXPECT_TRUE(result.archive_positions.empty());
    EXPECT_EQ(problem.seen.size(), 0u);
}

TEST(Mopso, EmptyArchiveLeavesEachParticleFollowingItsOwnBest) {
    // Leader and personal best start where the particle is and the velocity
    // at zero, so without an archive nothing ever moves.
    RecordedObjectives problem(2, schaffer);
    MopsoParams params;
    params.n_particles = 3;
    params.n_iterations = 5;
    params.archive_size = 0;
    auto result = run(problem, box({-1, -1}, {3, 3}), params, 9);
    EXPECT_EQ(result.population, initial_positions(9, 3, 2, -1.0, 4.0));
    EXPECT_TRUE(result.archive_positions.empty());
    EXPECT_EQ(problem.seen.size(), 3u * (1 + 5));
}

TEST(Mopso, SingleArchivedIndividualLeadsWithoutADraw) {
    RecordedObjectives problem(1, identity);
    MopsoParams params;
    params.n_particles = 2;
    params.n_iterations = 1;
    params.archive_size = 1;
    auto result = run(problem, box({0}, {1}), params, 21);

    auto rng = hivekit::RandomSource::from_seed_u64(21);
    const double x0 = rng.uniform(), x1 = rng.uniform();
    const double leader = x0 < x1 ? x0 : x1;
    // The first iteration's draws are r1 and r2 of each particle, nothing else;
    // the personal-best pull is zero while the best is where the particle is.
    std::vector<std::vector<double>> expected;
    for (double x : {x0, x1}) {
        rng.uniform();
        const double r2 = rng.uniform();
        const double v = (0.7 * 0.0 + 0.0) + (r2 * 1.5) * (leader - x);
        expected.push_back({v + x});
    }
    EXPECT_EQ(result.population, expected);
}

TEST(Mopso, FailedEvaluationsNeverReachTheArchive) {
    // Every evaluation after the initial ones fails: no personal best moves,
    // so the archive stays the initial swarm.
    std::size_t calls = 0;
    RecordedObjectives problem(1, [&](std::span<const double> x) {
        return ++calls <= 4 ? schaffer(x) : std::vector<double>{kInf};
    });
    MopsoParams params;
    params.n_particles = 4;
    params.n_iterations = 3;
    params.archive_size = 4;
    auto result = run(problem, box({-1}, {3}), params, 2);
    auto initial = initial_positions(2, 4, 1, -1.0, 4.0);
    ASSERT_EQ(result.archive_positions.size(), 4u);
    for (const auto& position : result.archive_positions)
        EXPECT_NE(std::find(initial.begin(), initial.end(), position), initial.end());
    for (const auto& objectives : result.archive_objectives) EXPECT_EQ(objectives.size(), 2u);
}

TEST(Mopso, ArchiveKeepsCopiesOfUnchangedPersonalBests) {
    // With an archive larger than the swarm, each iteration appends the
    // personal bests again, so the archive fills up to its limit.
    RecordedObjectives problem(1, schaffer);
    MopsoParams params;
    params.n_particles = 3;
    params.n_iterations = 4;
    params.archive_size = 10;
    auto result = run(problem, box({-1}, {3}), params);
    EXPECT_EQ(result.archive_positions.size(), 10u);
    EXPECT_EQ(result.archive_objectives.size(), 10u);
}

TEST(Mopso, EmptyBoxIsInvalidInput) {
    RecordedObjectives problem(0, schaffer);
    auto outcome = hivekit::run_mopso(problem, box({}, {}), MopsoParams{}, 1);
    const auto& error = std::get<hivekit::OptimizerError>(outcome);
    EXPECT_EQ(error.kind, hivekit::ErrorKind::InvalidInput);
    EXPECT_EQ(error.message, "bounds must not be empty");
}

}  // namespace
