#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <new>
#include <vector>

#include "algorithms/grey_wolf.hpp"
#include "algorithms/ordering.hpp"
#include "recorded_problem.hpp"

namespace hivekit {
namespace {

using namespace hivekit::test_support;

RunResult run(Problem& p, const Bounds& b, GreyWolfParams params, Seed seed = 5) {
    return std::get<RunResult>(run_grey_wolf(p, b, params, seed));
}

TEST(GreyWolfOptimizer, RejectsFewerThanThreeWolvesAfterTheBoxChecks) {
    Recorded p(2, sphere);
    auto outcome = run_grey_wolf(p, box({0, 0}, {1, 1}), {.n_wolves = 2}, 1);
    EXPECT_EQ(std::get<OptimizerError>(outcome).display(),
              "Invalid input: n_wolves must be at least 3 for grey wolf optimization");
    Recorded empty(0, sphere);
    outcome = run_grey_wolf(empty, box({}, {}), {.n_wolves = 2}, 1);
    EXPECT_EQ(std::get<OptimizerError>(outcome).display(), "Invalid input: Problem must have at least one dimension");
    EXPECT_TRUE(p.seen.empty());
    EXPECT_TRUE(std::holds_alternative<RunResult>(run_grey_wolf(p, box({0, 0}, {1, 1}), {.n_wolves = 3}, 1)));
}

TEST(GreyWolfOptimizer, ZeroIterationsKeepsTheInitialPack) {
    Recorded p(2, sphere);
    RunResult r = run(p, box({-1, -1}, {1, 1}), {.n_wolves = 4, .n_iterations = 0});
    EXPECT_EQ(p.seen.size(), 4u);
    EXPECT_TRUE(r.history.empty());
    EXPECT_EQ(r.population, p.seen_rows(0, 4));
}

TEST(GreyWolfOptimizer, CoefficientFallsFromTwoToZero) {
    EXPECT_EQ(grey_wolf_coefficient(0, 1), 2.0);
    EXPECT_EQ(grey_wolf_coefficient(0, 2), 2.0);
    EXPECT_EQ(grey_wolf_coefficient(1, 2), 0.0);
    EXPECT_EQ(grey_wolf_coefficient(2, 5), 1.0);
    EXPECT_EQ(grey_wolf_coefficient(4, 5), 0.0);
}

TEST(GreyWolfOptimizer, EvaluatesEveryWolfOncePerIteration) {
    Recorded p(3, sphere);
    run(p, box({-1, -1, -1}, {1, 1, 1}), {.n_wolves = 7, .n_iterations = 4});
    EXPECT_EQ(p.seen.size(), 7u * (1u + 4u));
}

TEST(GreyWolfOptimizer, LastIterationMovesEveryWolfToTheMeanOfTheFrozenLeaders) {
    // With two iterations the second has a = 0: every candidate is the mean of
    // the leaders ranked from the first iteration's (non-greedy) positions.
    const std::size_t n = 6;
    Recorded p(2, sphere);
    RunResult r = run(p, box({-1, -1}, {1, 1}), {.n_wolves = n, .n_iterations = 2});
    ASSERT_EQ(p.seen.size(), 3 * n);
    std::vector<double> after_first(p.values.begin() + n, p.values.begin() + 2 * n);
    ValueRanking ranking(n);
    WorkMeter idle;
    auto order = ranking.ascending(after_first, idle);
    std::vector<double> mean(2);
    for (std::size_t j = 0; j < 2; ++j)
        mean[j] = ((p.seen[n + order[0]][j] + p.seen[n + order[1]][j]) + p.seen[n + order[2]][j]) / 3.0;
    for (std::size_t e = 2 * n; e < 3 * n; ++e) EXPECT_EQ(p.seen[e], mean);
    EXPECT_EQ(r.population, p.seen_rows(2 * n, 3 * n));
}

TEST(GreyWolfOptimizer, PopulationHoldsTheLastMovesEvenWhenWorse) {
    Recorded p(2, sphere);
    RunResult r = run(p, box({-1, -1}, {1, 1}), {.n_wolves = 5, .n_iterations = 3});
    EXPECT_EQ(r.population, p.seen_rows(15, 20));
}

TEST(GreyWolfOptimizer, HistoryIsNonIncreasingAndEndsAtTheBest) {
    Recorded p(3, sphere);
    RunResult r = run(p, box({-2, -2, -2}, {2, 2, 2}), {.n_wolves = 8, .n_iterations = 12});
    expect_history_ends_at_sphere_best(r, 12);
}

TEST(GreyWolfOptimizer, EarlyWideMovesAreClippedIntoTheBox) {
    Recorded p(2, sphere);
    const Bounds b = box({0.5, 0}, {1, 0.5});
    run(p, b, {.n_wolves = 6, .n_iterations = 6});
    expect_clipped_into(b, p.seen);
}

TEST(GreyWolfOptimizer, NaNNeverBecomesTheBestOverANumber) {
    Recorded p(2, sphere_after_one_nan());
    RunResult r = run(p, box({-1, -1}, {1, 1}), {.n_wolves = 5, .n_iterations = 4});
    expect_no_nan_best(r);
}

TEST(GreyWolfOptimizer, AnOversizedPackIsAnAllocationFailure) {
    Recorded p(4, sphere);
    const Bounds b = box({0, 0, 0, 0}, {1, 1, 1, 1});
    EXPECT_THROW(run_grey_wolf(p, b, {.n_wolves = UINT64_MAX / 2}, 1), std::bad_alloc);
    EXPECT_TRUE(p.seen.empty());
}

TEST(GreyWolfOptimizer, AnAbortedEvaluationEndsTheRun) {
    Recorded p(2, sphere);
    p.abort_at = 7;
    EXPECT_THROW(run_grey_wolf(p, box({0, 0}, {1, 1}), {.n_wolves = 4, .n_iterations = 5}, 1), EvaluationAborted);
    EXPECT_EQ(p.seen.size(), 7u);
}

}  // namespace
}  // namespace hivekit
