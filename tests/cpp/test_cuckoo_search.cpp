#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <new>
#include <utility>
#include <vector>

#include "algorithms/cuckoo_search.hpp"
#include "recorded_problem.hpp"

namespace hivekit {
namespace {

using namespace hivekit::test_support;

RunResult run(Problem& p, const Bounds& b, CuckooSearchParams params, Seed seed = 5) {
    return std::get<RunResult>(run_cuckoo_search(p, b, params, seed));
}

TEST(CuckooSearch, RejectsFewerThanTwoNestsAfterTheBoxChecks) {
    Recorded p(2, sphere);
    auto outcome = run_cuckoo_search(p, box({0, 0}, {1, 1}), {.n_nests = 1}, 1);
    EXPECT_EQ(std::get<OptimizerError>(outcome).display(),
              "Invalid input: n_nests must be at least 2 for cuckoo search");
    Recorded empty(0, sphere);
    outcome = run_cuckoo_search(empty, box({}, {}), {.n_nests = 1}, 1);
    EXPECT_EQ(std::get<OptimizerError>(outcome).display(), "Invalid input: Problem must have at least one dimension");
    EXPECT_TRUE(p.seen.empty());
}

TEST(CuckooSearch, ZeroIterationsKeepsTheInitialNests) {
    Recorded p(2, sphere);
    RunResult r = run(p, box({-1, -1}, {1, 1}), {.n_nests = 4, .n_iterations = 0});
    EXPECT_EQ(p.seen.size(), 4u);
    EXPECT_TRUE(r.history.empty());
    EXPECT_EQ(r.population, p.seen_rows(0, 4));
}

TEST(CuckooSearch, AbandonmentCountFollowsPa) {
    EXPECT_EQ(cuckoo_abandon_count(0.0, 25), 1u);
    EXPECT_EQ(cuckoo_abandon_count(0.25, 25), 7u);
    EXPECT_EQ(cuckoo_abandon_count(1.0, 25), 25u);
    EXPECT_EQ(cuckoo_abandon_count(-3.0, 25), 1u);
    EXPECT_EQ(cuckoo_abandon_count(kNaN, 25), 1u);
    EXPECT_EQ(cuckoo_abandon_count(1e300, 25), 25u);
}

TEST(CuckooSearch, EvaluatesEveryNestAndEachAbandonedOnePerIteration) {
    for (auto [pa, k] : {std::pair{0.0, 1u}, {0.25, 7u}, {1.0, 25u}}) {
        Recorded p(2, sphere);
        run(p, box({-1, -1}, {1, 1}), {.n_nests = 25, .n_iterations = 3, .pa = pa});
        EXPECT_EQ(p.seen.size(), 25u + 3u * (25u + k)) << "pa " << pa;
    }
}

TEST(CuckooSearch, AbandonsTheWorstNestsWithTiesInIndexOrder) {
    // A flat objective ties every nest, and alpha 0 keeps flights in place, so
    // only the first k = 2 nests are rebuilt, from the last two evaluations.
    Recorded flat(2, [](std::span<const double>) { return 1.0; });
    RunResult r = run(flat, box({-1, -1}, {1, 1}), {.n_nests = 8, .n_iterations = 1, .pa = 0.25, .alpha = 0.0});
    ASSERT_EQ(flat.seen.size(), 8u + 8u + 2u);
    std::vector<std::vector<double>> want = flat.seen_rows(0, 8);
    want[0] = flat.seen[16];
    want[1] = flat.seen[17];
    EXPECT_EQ(r.population, want);

    Recorded p(2, sphere);
    r = run(p, box({-1, -1}, {1, 1}), {.n_nests = 6, .n_iterations = 1, .pa = 0.0, .alpha = 0.0});
    std::size_t worst = 0;
    for (std::size_t i = 1; i < 6; ++i)
        if (p.values[i] > p.values[worst]) worst = i;
    want = p.seen_rows(0, 6);
    want[worst] = p.seen.back();
    EXPECT_EQ(r.population, want);
}

TEST(CuckooSearch, HistoryIsNonIncreasingAndEndsAtTheBest) {
    Recorded p(3, sphere);
    RunResult r = run(p, box({-2, -2, -2}, {2, 2, 2}), {.n_nests = 10, .n_iterations = 15, .alpha = 0.1});
    expect_history_ends_at_sphere_best(r, 15);
}

TEST(CuckooSearch, LongFlightsAreClippedIntoTheBox) {
    Recorded p(2, sphere);
    const Bounds b = box({-1, 0}, {1, 0.5});
    RunResult r = run(p, b, {.n_nests = 6, .n_iterations = 10, .alpha = 1.0, .levy_scale = 10.0});
    expect_clipped_into(b, p.seen);
    expect_population_was_evaluated(r, p.seen);
}

TEST(CuckooSearch, NaNNeverBecomesTheBestOverANumber) {
    Recorded p(2, sphere_after_one_nan());
    RunResult r = run(p, box({-1, -1}, {1, 1}), {.n_nests = 5, .n_iterations = 4});
    expect_no_nan_best(r);
}

TEST(CuckooSearch, FlightsReplaceNestsThatStartedAtNaN) {
    // Every initial nest and the one rebuilt nest are NaN: only the flights'
    // numbers, replacing the other nests, can make the best a number.
    std::size_t calls = 0;
    Recorded p(2, [&calls](std::span<const double> x) {
        const std::size_t call = calls++;
        return call < 5 || call == 10 ? kNaN : sphere(x);
    });
    RunResult r = run(p, box({-1, -1}, {1, 1}), {.n_nests = 5, .n_iterations = 1, .pa = 0.0});
    ASSERT_EQ(p.values.size(), 11u);
    EXPECT_FALSE(std::isnan(*r.best_value));
    EXPECT_NE(std::find(p.values.begin() + 5, p.values.end(), *r.best_value), p.values.end());
}

TEST(CuckooSearch, AnOversizedNestArrayIsAnAllocationFailure) {
    Recorded p(4, sphere);
    const Bounds b = box({0, 0, 0, 0}, {1, 1, 1, 1});
    EXPECT_THROW(run_cuckoo_search(p, b, {.n_nests = UINT64_MAX / 2}, 1), std::bad_alloc);
    EXPECT_TRUE(p.seen.empty());
}

TEST(CuckooSearch, AnAbortedEvaluationEndsTheRun) {
    Recorded p(2, sphere);
    p.abort_at = 9;
    EXPECT_THROW(run_cuckoo_search(p, box({0, 0}, {1, 1}), {.n_nests = 4, .n_iterations = 5}, 1), EvaluationAborted);
    EXPECT_EQ(p.seen.size(), 9u);
}

}  // namespace
}  // namespace hivekit
