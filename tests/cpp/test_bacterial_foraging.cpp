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
    ASSERT_EQ(r.history.size(), 12u);
    for (std::size_t t = 1; t < r.history.size(); ++t) EXPECT_LE(r.history[t], r.history[t - 1]);
    EXPECT_EQ(r.history.back(), *r.best_value);
    EXPECT_EQ(sphere(*r.best_solution), *r.best_value);
}

TEST(BacterialForaging, LargeTumblesAreClippedIntoTheBox) {
    Recorded p(2, sphere);
    const Bounds b = box({-1, 0}, {1, 0.5});
    RunResult r = run(p, b, {.n_bacteria = 6, .n_iterations = 3, .n_chemotactic_steps = 2, .step_scale = 2.0});
    bool on_face = false;
    for (const auto& x : p.seen) {
        for (std::size_t j = 0; j < 2; ++j) {
            EXPECT_GE(x[j], b.lower()[j]);
            EXPECT_LE(x[j], b.upper()[j]);
            on_face = on_face || x[j] == b.lower()[j] || x[j] == b.upper()[j];
        }
    }
    EXPECT_TRUE(on_face);
    for (const auto& x : r.population) EXPECT_NE(std::find(p.seen.begin(), p.seen.end(), x), p.seen.end());
}

TEST(BacterialForaging, NaNNeverBecomesTheBestOverANumber) {
    std::size_t calls = 0;
    Recorded p(2, [&calls](std::span<const double> x) { return calls++ == 0 ? kNaN : sphere(x); });
    RunResult r = run(p, box({-1, -1}, {1, 1}), {.n_bacteria = 5, .n_iterations = 4, .n_chemotactic_steps = 2});
    EXPECT_FALSE(std::isnan(*r.best_value));
    for (double h : r.history) EXPECT_FALSE(std::isnan(h));
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
