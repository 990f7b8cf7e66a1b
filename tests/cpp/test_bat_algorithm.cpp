#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "algorithms/bat_algorithm.hpp"
#include "recorded_problem.hpp"

namespace hivekit {
namespace {

using namespace hivekit::test_support;

RunResult run(Problem& p, const Bounds& b, BatAlgorithmParams params, Seed seed = 2) {
    return std::get<RunResult>(run_bat_algorithm(p, b, params, seed));
}

TEST(BatAlgorithm, ReportsAnEmptyBoxBeforeTheSwarmSize) {
    Recorded p(0, sphere);
    auto outcome = run_bat_algorithm(p, box({}, {}), {.n_bats = 1}, 1);
    EXPECT_EQ(std::get<OptimizerError>(outcome).display(), "Invalid input: Problem must have at least one dimension");
}

TEST(BatAlgorithm, NeedsTwoBats) {
    Recorded p(2, sphere);
    auto outcome = run_bat_algorithm(p, box({0, 0}, {1, 1}), {.n_bats = 1}, 1);
    EXPECT_EQ(std::get<OptimizerError>(outcome).display(), "Invalid input: n_bats must be at least 2 for bat algorithm");
    EXPECT_TRUE(p.seen.empty());
    run(p, box({0, 0}, {1, 1}), {.n_bats = 2, .n_iterations = 3});
    EXPECT_EQ(p.seen.size(), 2u * 4u);
}

TEST(BatAlgorithm, WithoutIterationsReturnsTheInitialSwarm) {
    Recorded p(2, sphere);
    RunResult r = run(p, box({-1, -1}, {1, 1}), {.n_bats = 5, .n_iterations = 0});
    EXPECT_EQ(p.seen.size(), 5u);
    EXPECT_TRUE(r.history.empty());
    EXPECT_EQ(r.population, p.seen);
}

TEST(BatAlgorithm, HistoryHoldsANonIncreasingBestPerIteration) {
    Recorded p(3, sphere);
    Bounds b = box({-2, -2, 0.5}, {2, 2, 0.5});
    RunResult r = run(p, b, {.n_bats = 8, .n_iterations = 25});
    ASSERT_EQ(p.seen.size(), 8u * 26u);
    ASSERT_EQ(r.history.size(), 25u);
    for (std::size_t k = 1; k < 25; ++k) EXPECT_LE(r.history[k], r.history[k - 1]);
    EXPECT_EQ(*r.best_value, r.history.back());
    EXPECT_EQ(sphere(*r.best_solution), *r.best_value);
    EXPECT_EQ(r.population, p.seen_rows(p.seen.size() - 8, p.seen.size()));
    for (const auto& x : p.seen) {
        for (std::size_t j = 0; j < 3; ++j) {
            EXPECT_GE(x[j], b.lower()[j]);
            EXPECT_LE(x[j], b.upper()[j]);
        }
    }
}

TEST(BatAlgorithm, SilentBatsNeverAcceptYetKeepMoving) {
    Recorded p(2, sphere);
    RunResult r = run(p, box({-3, -3}, {3, 3}), {.n_bats = 6, .n_iterations = 10, .loudness = 0.0});
    std::size_t first = 0;
    for (std::size_t k = 1; k < 6; ++k)
        if (sphere(p.seen[k]) < sphere(p.seen[first])) first = k;
    EXPECT_EQ(*r.best_solution, p.seen[first]);
    EXPECT_EQ(r.history, std::vector<double>(10, sphere(p.seen[first])));
    EXPECT_NE(r.population, p.seen_rows(0, 6));
}

TEST(BatAlgorithm, ANumberReplacesANaNRecordAndANaNBest) {
    Recorded p(2, [](std::size_t call, std::span<const double> x) { return call < 4 ? kNaN : sphere(x); });
    RunResult r = run(p, box({-1, -1}, {1, 1}), {.n_bats = 4, .n_iterations = 1});
    ASSERT_FALSE(std::isnan(*r.best_value));
    EXPECT_EQ(sphere(*r.best_solution), *r.best_value);
}

TEST(BatAlgorithm, AnAbortedEvaluationStopsTheRun) {
    Recorded p(2, [](std::size_t call, std::span<const double>) -> double {
        if (call == 5) throw EvaluationAborted();
        return 0.0;
    });
    EXPECT_THROW(run(p, box({0, 0}, {1, 1}), {.n_bats = 3, .n_iterations = 10}), EvaluationAborted);
    EXPECT_EQ(p.seen.size(), 6u);
}

TEST(BatAlgorithm, SizesTooLargeToAllocateFailBeforeAnyEvaluation) {
    Recorded p(2, sphere);
    const std::uint64_t huge[] = {std::uint64_t{1} << 41, ~std::uint64_t{0}};
    for (std::uint64_t n : huge) {
        for (BatAlgorithmParams params : {BatAlgorithmParams{.n_bats = n}, BatAlgorithmParams{.n_iterations = n}}) {
            EXPECT_TRUE(allocation_fails([&] { run(p, box({0, 0}, {1, 1}), params); }))
                << "a run of size " << n << " was allocated";
        }
    }
    EXPECT_TRUE(p.seen.empty());
}

}  // namespace
}  // namespace hivekit
