#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <new>
#include <vector>

#include "algorithms/firefly.hpp"
#include "recorded_problem.hpp"

namespace hivekit {
namespace {

using namespace hivekit::test_support;

RunResult run(Problem& p, const Bounds& b, FireflyParams params, Seed seed = 5) {
    return std::get<RunResult>(run_firefly(p, b, params, seed));
}

TEST(FireflyOptimizer, RejectsFewerThanTwoFirefliesAfterTheBoxChecks) {
    Recorded p(2, sphere);
    auto outcome = run_firefly(p, box({0, 0}, {1, 1}), {.n_fireflies = 1}, 1);
    EXPECT_EQ(std::get<OptimizerError>(outcome).display(),
              "Invalid input: n_fireflies must be at least 2 for firefly optimization");
    Recorded empty(0, sphere);
    outcome = run_firefly(empty, box({}, {}), {.n_fireflies = 1}, 1);
    EXPECT_EQ(std::get<OptimizerError>(outcome).display(), "Invalid input: Problem must have at least one dimension");
    EXPECT_TRUE(p.seen.empty());
}

TEST(FireflyOptimizer, ZeroIterationsKeepsTheInitialFireflies) {
    Recorded p(2, sphere);
    RunResult r = run(p, box({-1, -1}, {1, 1}), {.n_fireflies = 4, .n_iterations = 0});
    EXPECT_EQ(p.seen.size(), 4u);
    EXPECT_TRUE(r.history.empty());
    EXPECT_EQ(r.population, p.seen_rows(0, 4));
}

TEST(FireflyOptimizer, EquallyBrightFirefliesNeverMove) {
    Recorded p(2, [](std::span<const double>) { return 3.0; });
    RunResult r = run(p, box({-1, -1}, {1, 1}), {.n_fireflies = 6, .n_iterations = 5});
    EXPECT_EQ(p.seen.size(), 6u);
    EXPECT_EQ(r.history, std::vector<double>(5, 3.0));
    EXPECT_EQ(r.population, p.seen_rows(0, 6));
}

TEST(FireflyOptimizer, ADimmerFireflyIsAttractedOncePerBrighterPartner) {
    // Two fireflies, no shake and no pull: the dimmer one is evaluated once per
    // iteration at its own position and never accepts it.
    Recorded p(2, sphere);
    RunResult r = run(p, box({-1, -1}, {1, 1}), {.n_fireflies = 2, .n_iterations = 3, .beta0 = 0.0, .alpha = 0.0});
    ASSERT_EQ(p.seen.size(), 2u + 3u);
    const std::size_t dimmer = p.values[1] > p.values[0] ? 1 : 0;
    for (std::size_t e = 2; e < 5; ++e) EXPECT_EQ(p.seen[e], p.seen[dimmer]);
    EXPECT_EQ(r.population, p.seen_rows(0, 2));
}

TEST(FireflyOptimizer, HistoryIsNonIncreasingAndEndsAtTheBest) {
    Recorded p(3, sphere);
    RunResult r = run(p, box({-2, -2, -2}, {2, 2, 2}), {.n_fireflies = 8, .n_iterations = 12});
    expect_history_ends_at_sphere_best(r, 12);
}

TEST(FireflyOptimizer, WideShakesAreClippedIntoTheBox) {
    Recorded p(2, sphere);
    const Bounds b = box({-1, 0}, {1, 0.5});
    RunResult r = run(p, b, {.n_fireflies = 6, .n_iterations = 6, .alpha = 8.0});
    expect_clipped_into(b, p.seen);
    expect_population_was_evaluated(r, p.seen);
}

TEST(FireflyOptimizer, NaNNeverBecomesTheBestOverANumber) {
    Recorded p(2, sphere_after_one_nan());
    RunResult r = run(p, box({-1, -1}, {1, 1}), {.n_fireflies = 5, .n_iterations = 4});
    expect_no_nan_best(r);
}

TEST(FireflyOptimizer, ANaNFireflyAttractsAndIsAttractedByAllButNeverMoves) {
    // Firefly 0 alone is NaN and the others tie: firefly 0 is attracted by all
    // 4 partners (itself included), each other firefly by firefly 0 only.
    std::size_t calls = 0;
    Recorded p(2, [&calls](std::span<const double>) { return calls++ == 0 ? kNaN : 1.0; });
    RunResult r = run(p, box({-1, -1}, {1, 1}), {.n_fireflies = 4, .n_iterations = 2});
    EXPECT_EQ(p.seen.size(), 4u + 2u * (4u + 3u));
    EXPECT_EQ(r.population, p.seen_rows(0, 4));
}

TEST(FireflyOptimizer, AnOversizedSwarmIsAnAllocationFailure) {
    Recorded p(4, sphere);
    const Bounds b = box({0, 0, 0, 0}, {1, 1, 1, 1});
    EXPECT_THROW(run_firefly(p, b, {.n_fireflies = UINT64_MAX / 2}, 1), std::bad_alloc);
    EXPECT_TRUE(p.seen.empty());
}

TEST(FireflyOptimizer, AnAbortedEvaluationEndsTheRun) {
    Recorded p(2, sphere);
    p.abort_at = 7;
    EXPECT_THROW(run_firefly(p, box({0, 0}, {1, 1}), {.n_fireflies = 4, .n_iterations = 5}, 1), EvaluationAborted);
    EXPECT_EQ(p.seen.size(), 7u);
}

}  // namespace
}  // namespace hivekit
