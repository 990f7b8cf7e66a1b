#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <new>
#include <vector>

#include "algorithms/bacterial_foraging.hpp"
#include "recorded_problem.hpp"

namespace hivekit {
namespace {

using namespace hivekit::test_support;

RunResult run(Problem& p, const Bounds& b, BacterialForagingParams params, Seed seed = 5) {
    return std::get<RunResult>(run_bacterial_foraging(p, b, params, seed));
}

// Indices of values in ascending order, equal values in index order (no NaN).
std::vector<std::size_t> ranked(const std::vector<double>& values) {
    std::vector<std::size_t> order(values.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return values[a] < values[b]; });
    return order;
}

TEST(BacterialForaging, RejectsFewerThanTwoBacteriaAfterTheBoxChecks) {
    Recorded p(2, sphere);
    auto outcome = run_bacterial_foraging(p, box({0, 0}, {1, 1}), {.n_bacteria = 1}, 1);
    EXPECT_EQ(std::get<OptimizerError>(outcome).display(),
              "Invalid input: n_bacteria must be at least 2 for bacterial foraging");
    Recorded empty(0, sphere);
    outcome = run_bacterial_foraging(empty, box({}, {}), {.n_bacteria = 1}, 1);
    EXPECT_EQ(std::get<OptimizerError>(outcome).display(), "Invalid input: Problem must have at least one dimension");
    EXPECT_TRUE(p.seen.empty());
}

TEST(BacterialForaging, ZeroIterationsKeepsTheInitialBacteria) {
    Recorded p(2, sphere);
    RunResult r = run(p, box({-1, -1}, {1, 1}), {.n_bacteria = 4, .n_iterations = 0});
    EXPECT_EQ(p.seen.size(), 4u);
    EXPECT_TRUE(r.history.empty());
    EXPECT_EQ(r.population, p.seen_rows(0, 4));
}

TEST(BacterialForaging, EvaluatesEveryTumbleAndEveryReseededBacterium) {
    Recorded never(2, sphere);
    run(never, box({-1, -1}, {1, 1}),
        {.n_bacteria = 5, .n_iterations = 3, .n_chemotactic_steps = 4, .elimination_probability = 0.0});
    EXPECT_EQ(never.seen.size(), 5u + 3u * (5u * 4u));
    Recorded always(2, sphere);
    run(always, box({-1, -1}, {1, 1}),
        {.n_bacteria = 5, .n_iterations = 3, .n_chemotactic_steps = 4, .elimination_probability = 1.0});
    EXPECT_EQ(always.seen.size(), 5u + 3u * (5u * 4u + 5u));
}

TEST(BacterialForaging, ReproductionRepeatsTheBetterHalfInRankOrder) {
    EXPECT_EQ(bacterial_reproduction_ranks(5), (std::vector<std::size_t>{0, 1, 0, 1, 0}));
    EXPECT_EQ(bacterial_reproduction_ranks(4), (std::vector<std::size_t>{0, 1, 0, 1}));
    EXPECT_EQ(bacterial_reproduction_ranks(3), (std::vector<std::size_t>{0, 0, 0}));

    // No tumbles and no re-seeding: one iteration is one reproduction.
    Recorded p(2, sphere);
    RunResult r = run(p, box({-1, -1}, {1, 1}),
                      {.n_bacteria = 5, .n_iterations = 1, .n_chemotactic_steps = 0, .elimination_probability = 0.0});
    ASSERT_EQ(p.seen.size(), 5u);
    const auto order = ranked(p.values);
    const std::vector<std::vector<double>> want = {p.seen[order[0]], p.seen[order[1]], p.seen[order[0]],
                                                   p.seen[order[1]], p.seen[order[0]]};
    EXPECT_EQ(r.population, want);
}

TEST(BacterialForaging, ReproductionStepsDoNotChangeTheRun) {
    Recorded a(2, sphere), b(2, sphere);
    RunResult ra = run(a, box({-1, -1}, {1, 1}), {.n_bacteria = 4, .n_iterations = 3, .n_reproduction_steps = 1});
    RunResult rb = run(b, box({-1, -1}, {1, 1}), {.n_bacteria = 4, .n_iterations = 3, .n_reproduction_steps = 9});
    EXPECT_EQ(a.seen, b.seen);
    EXPECT_EQ(ra.population, rb.population);
}

TEST(BacterialForaging, HistoryIsNonIncreasingAndEndsAtTheBest) {
    Recorded p(3, sphere);
    RunResult r = run(p, box({-2, -2, -2}, {2, 2, 2}), {.n_bacteria = 8, .n_iterations = 12, .n_chemotactic_steps = 3});
    expect_history_ends_at_sphere_best(r, 12);
}

TEST(BacterialForaging, LargeTumblesAreClippedIntoTheBox) {
    Recorded p(2, sphere);
    const Bounds b = box({-1, 0}, {1, 0.5});
    RunResult r = run(p, b, {.n_bacteria = 6, .n_iterations = 3, .n_chemotactic_steps = 2, .step_scale = 2.0});
    expect_clipped_into(b, p.seen);
    expect_population_was_evaluated(r, p.seen);
}

TEST(BacterialForaging, NaNNeverBecomesTheBestOverANumber) {
    Recorded p(2, sphere_after_one_nan());
    RunResult r = run(p, box({-1, -1}, {1, 1}), {.n_bacteria = 5, .n_iterations = 4, .n_chemotactic_steps = 2});
    expect_no_nan_best(r);
}

TEST(BacterialForaging, AnOversizedPopulationIsAnAllocationFailure) {
    Recorded p(4, sphere);
    const Bounds b = box({0, 0, 0, 0}, {1, 1, 1, 1});
    EXPECT_THROW(run_bacterial_foraging(p, b, {.n_bacteria = UINT64_MAX / 2}, 1), std::bad_alloc);
    EXPECT_TRUE(p.seen.empty());
}

TEST(BacterialForaging, AnAbortedEvaluationEndsTheRun) {
    Recorded p(2, sphere);
    p.abort_at = 9;
    EXPECT_THROW(run_bacterial_foraging(p, box({0, 0}, {1, 1}), {.n_bacteria = 4, .n_iterations = 5}, 1),
                 EvaluationAborted);
    EXPECT_EQ(p.seen.size(), 9u);
}

}  // namespace
}  // namespace hivekit
