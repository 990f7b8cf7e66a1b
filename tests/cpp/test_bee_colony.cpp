#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "algorithms/bee_colony.hpp"
#include "recorded_problem.hpp"

namespace hivekit {
namespace {

using namespace hivekit::test_support;

double constant(std::span<const double>) { return 1.0; }

RunResult run(Problem& p, const Bounds& b, BeeColonyParams params, Seed seed = 4) {
    return std::get<RunResult>(run_bee_colony(p, b, params, seed));
}

TEST(BeeColony, RejectsAnEmptyBoxWithItsOwnMessage) {
    Recorded p(0, sphere);
    auto outcome = run_bee_colony(p, box({}, {}), {}, 1);
    EXPECT_EQ(std::get<OptimizerError>(outcome).display(), "Invalid input: Bounds must have at least one dimension");
    EXPECT_TRUE(p.seen.empty());
}

TEST(BeeColony, WithoutIterationsEvaluatesEachSourceOnceAndKeepsTheFirstMinimum) {
    Recorded p(2, constant);
    RunResult r = run(p, box({0, 0}, {1, 1}), {.n_bees = 10, .n_iterations = 0});
    EXPECT_EQ(p.seen.size(), 5u);
    EXPECT_EQ(*r.best_solution, p.seen[0]);
    EXPECT_TRUE(r.history.empty());
    EXPECT_TRUE(r.population.empty());
}

TEST(BeeColony, EvaluatesTwicePerSourceEachIteration) {
    Recorded p(3, sphere);
    run(p, box({-1, -1, -1}, {1, 1, 1}), {.n_bees = 8, .n_iterations = 6, .limit = 1000});
    EXPECT_EQ(p.seen.size(), 4u + 2u * 4u * 6u);
}

TEST(BeeColony, WithLimitZeroAFailingSourceIsAbandonedEveryIteration) {
    Recorded p(2, constant);
    run(p, box({-1, -1}, {1, 1}), {.n_bees = 8, .n_iterations = 6, .limit = 0});
    EXPECT_EQ(p.seen.size(), 4u + (2u * 4u + 1u) * 6u);
}

TEST(BeeColony, TheLastOfEqualFailureCountsIsAbandoned) {
    // Two sources that never improve, limit 0: evaluations 0-1 are the
    // sources, 2-3 the employed trials, 4-5 the onlookers, 6 the scout's new
    // source, 7-8 the next employed trials. A trial differs from its source in
    // one coordinate at most.
    auto near = [](const std::vector<double>& a, const std::vector<double>& b) {
        int moved = 0;
        for (std::size_t j = 0; j < a.size(); ++j) moved += a[j] != b[j];
        return moved <= 1;
    };
    Recorded p(3, constant);
    run(p, box({-1, -1, -1}, {1, 1, 1}), {.n_bees = 4, .n_iterations = 2, .limit = 0}, 2);
    ASSERT_NE(near(p.seen[4], p.seen[0]), near(p.seen[5], p.seen[0])) << "the onlookers must visit both sources";
    EXPECT_TRUE(near(p.seen[7], p.seen[0]));
    EXPECT_TRUE(near(p.seen[8], p.seen[6]));
}

TEST(BeeColony, FewerThanFourBeesStepOneCoordinateByAtMostATenthOfTheWidth) {
    for (std::uint64_t bees : {0, 1, 3}) {
        Recorded p(2, constant);
        run(p, box({-1, 0}, {1, 10}), {.n_bees = bees, .n_iterations = 5, .limit = 1000});
        ASSERT_EQ(p.seen.size(), 1u + 2u * 5u);
        // Nothing improves, so every trial starts from the first source.
        for (std::size_t k = 1; k < p.seen.size(); ++k) {
            int moved = 0;
            for (std::size_t j = 0; j < 2; ++j) moved += p.seen[k][j] != p.seen[0][j];
            EXPECT_LE(moved, 1);
            EXPECT_LE(std::fabs(p.seen[k][0] - p.seen[0][0]), 0.2);
            EXPECT_LE(std::fabs(p.seen[k][1] - p.seen[0][1]), 1.0);
        }
    }
}

TEST(BeeColony, EveryCandidateLiesInsideTheBox) {
    Recorded p(3, sphere);
    Bounds b = box({0.5, -3, 2}, {2, -1, 2});
    run(p, b, {.n_bees = 12, .n_iterations = 15, .limit = 2});
    for (const auto& x : p.seen) {
        for (std::size_t j = 0; j < 3; ++j) {
            EXPECT_GE(x[j], b.lower()[j]);
            EXPECT_LE(x[j], b.upper()[j]);
        }
    }
}

TEST(BeeColony, BestIsTheSmallestValueEvaluated) {
    // With limit 10 and five sources no source can be improved and abandoned
    // within one iteration, so every improvement reaches the best.
    Recorded p(2, sphere);
    RunResult r = run(p, box({-2, -2}, {2, 2}), {.n_bees = 10, .n_iterations = 20});
    double smallest = kInf;
    for (const auto& x : p.seen)
        if (sphere(x) < smallest) smallest = sphere(x);
    EXPECT_EQ(*r.best_value, smallest);
    EXPECT_EQ(sphere(*r.best_solution), smallest);
}

TEST(BeeColony, NaNEverywhereKeepsTheFirstSource) {
    Recorded p(2, [](std::size_t, std::span<const double>) { return kNaN; });
    RunResult r = run(p, box({0, 0}, {1, 1}), {.n_bees = 6, .n_iterations = 4});
    EXPECT_TRUE(std::isnan(*r.best_value));
    EXPECT_EQ(*r.best_solution, p.seen[0]);
}

TEST(BeeColony, ANumberReplacesNaNSourcesAndANaNBest) {
    // Every initial source is NaN, every later evaluation a number.
    Recorded p(2, [](std::size_t call, std::span<const double> x) { return call < 3 ? kNaN : sphere(x); });
    RunResult r = run(p, box({-1, -1}, {1, 1}), {.n_bees = 6, .n_iterations = 1});
    ASSERT_FALSE(std::isnan(*r.best_value));
    EXPECT_EQ(*r.best_value, sphere(*r.best_solution));
}

TEST(BeeColony, AnAbortedEvaluationStopsTheRun) {
    Recorded p(2, [](std::size_t call, std::span<const double>) -> double {
        if (call == 7) throw EvaluationAborted();
        return 0.0;
    });
    EXPECT_THROW(run(p, box({0, 0}, {1, 1}), {.n_bees = 6, .n_iterations = 10}), EvaluationAborted);
    EXPECT_EQ(p.seen.size(), 8u);
}

TEST(BeeColony, AColonyTooLargeToAllocateFailsBeforeAnyEvaluation) {
    Recorded p(2, sphere);
    for (std::uint64_t bees : {std::uint64_t{1} << 41, ~std::uint64_t{0}}) {
        EXPECT_TRUE(allocation_fails([&] { run(p, box({0, 0}, {1, 1}), {.n_bees = bees, .n_iterations = 1}); }))
            << "a colony of " << bees << " bees was allocated";
    }
    EXPECT_TRUE(p.seen.empty());
}

}  // namespace
}  // namespace hivekit
