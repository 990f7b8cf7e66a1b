#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <new>
#include <vector>

#include "algorithms/glowworm.hpp"
#include "recorded_problem.hpp"

namespace hivekit {
namespace {

using namespace hivekit::test_support;

RunResult run(Problem& p, const Bounds& b, GlowwormParams params, Seed seed = 5) {
    return std::get<RunResult>(run_glowworm(p, b, params, seed));
}

TEST(GlowwormOptimizer, RejectsFewerThanTwoWormsAfterTheBoxChecks) {
    Recorded p(2, sphere);
    auto outcome = run_glowworm(p, box({0, 0}, {1, 1}), {.n_worms = 1}, 1);
    EXPECT_EQ(std::get<OptimizerError>(outcome).display(),
              "Invalid input: n_worms must be at least 2 for glowworm optimization");
    Recorded empty(0, sphere);
    outcome = run_glowworm(empty, box({}, {}), {.n_worms = 1}, 1);
    EXPECT_EQ(std::get<OptimizerError>(outcome).display(), "Invalid input: Problem must have at least one dimension");
    EXPECT_TRUE(p.seen.empty());
}

TEST(GlowwormOptimizer, ZeroIterationsKeepsTheInitialWorms) {
    Recorded p(2, sphere);
    RunResult r = run(p, box({-1, -1}, {1, 1}), {.n_worms = 4, .n_iterations = 0});
    EXPECT_EQ(p.seen.size(), 4u);
    EXPECT_TRUE(r.history.empty());
    EXPECT_EQ(r.population, p.seen_rows(0, 4));
}

TEST(GlowwormOptimizer, ZeroRadiusLeavesEveryWormWithoutNeighbours) {
    Recorded p(2, sphere);
    RunResult r = run(p, box({-1, -1}, {1, 1}), {.n_worms = 6, .n_iterations = 4, .neighborhood_radius = 0.0});
    EXPECT_EQ(p.seen.size(), 6u);
    EXPECT_EQ(r.history, std::vector<double>(4, *std::min_element(p.values.begin(), p.values.end())));
    EXPECT_EQ(r.population, p.seen_rows(0, 6));
}

TEST(GlowwormOptimizer, TheDimmerWormStepsAFractionOfTheWayToTheBrighterOne) {
    // After the first luciferin update the worm of smaller value glows more;
    // it has no neighbour and stays, the other tries half the offset.
    Recorded p(2, sphere);
    run(p, box({-1, -1}, {1, 1}), {.n_worms = 2, .n_iterations = 1, .step_size = 0.5, .neighborhood_radius = 10.0});
    ASSERT_EQ(p.seen.size(), 3u);
    const std::size_t top = p.values[1] < p.values[0] ? 1 : 0, other = 1 - top;
    for (std::size_t j = 0; j < 2; ++j)
        EXPECT_EQ(p.seen[2][j], p.seen[other][j] + 0.5 * (p.seen[top][j] - p.seen[other][j]));
}

TEST(GlowwormOptimizer, ZeroStepNeverAcceptsAMove) {
    Recorded p(2, sphere);
    RunResult r =
        run(p, box({-1, -1}, {1, 1}), {.n_worms = 5, .n_iterations = 3, .step_size = 0.0, .neighborhood_radius = 10.0});
    EXPECT_GT(p.seen.size(), 5u);
    EXPECT_EQ(r.population, p.seen_rows(0, 5));
}

TEST(GlowwormOptimizer, HistoryIsNonIncreasingAndEndsAtTheBest) {
    Recorded p(3, sphere);
    RunResult r = run(p, box({-2, -2, -2}, {2, 2, 2}), {.n_worms = 8, .n_iterations = 12, .neighborhood_radius = 3.0});
    expect_history_ends_at_sphere_best(r, 12);
}

TEST(GlowwormOptimizer, OvershootingStepsAreClippedIntoTheBox) {
    Recorded p(2, sphere);
    const Bounds b = box({-1, 0}, {1, 0.5});
    run(p, b, {.n_worms = 6, .n_iterations = 3, .step_size = 3.0, .neighborhood_radius = 10.0});
    expect_clipped_into(b, p.seen);
}

TEST(GlowwormOptimizer, NaNNeverBecomesTheBestOverANumber) {
    Recorded p(2, sphere_after_one_nan());
    RunResult r = run(p, box({-1, -1}, {1, 1}), {.n_worms = 5, .n_iterations = 4, .neighborhood_radius = 10.0});
    expect_no_nan_best(r);
}

TEST(GlowwormOptimizer, AnOversizedSwarmIsAnAllocationFailure) {
    Recorded p(4, sphere);
    const Bounds b = box({0, 0, 0, 0}, {1, 1, 1, 1});
    EXPECT_THROW(run_glowworm(p, b, {.n_worms = UINT64_MAX / 2}, 1), std::bad_alloc);
    EXPECT_TRUE(p.seen.empty());
}

TEST(GlowwormOptimizer, AnAbortedEvaluationEndsTheRun) {
    Recorded p(2, sphere);
    p.abort_at = 6;
    const GlowwormParams params{.n_worms = 4, .n_iterations = 5, .neighborhood_radius = 10.0};
    EXPECT_THROW(run_glowworm(p, box({0, 0}, {1, 1}), params, 1), EvaluationAborted);
    EXPECT_EQ(p.seen.size(), 6u);
}

}  // namespace
}  // namespace hivekit
