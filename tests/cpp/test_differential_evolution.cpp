#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "algorithms/differential_evolution.hpp"
#include "recorded_problem.hpp"

namespace hivekit {
namespace {

using namespace hivekit::test_support;

RunResult run(Problem& p, const Bounds& b, DifferentialEvolutionParams params, Seed seed = 6) {
    return std::get<RunResult>(run_differential_evolution(p, b, params, seed));
}

TEST(DifferentialEvolution, ReportsAnEmptyBoxBeforeThePopulationSize) {
    Recorded p(0, sphere);
    auto outcome = run_differential_evolution(p, box({}, {}), {.n_individuals = 3}, 1);
    EXPECT_EQ(std::get<OptimizerError>(outcome).display(), "Invalid input: Problem must have at least one dimension");
}

TEST(DifferentialEvolution, NeedsFourIndividuals) {
    Recorded p(2, sphere);
    auto outcome = run_differential_evolution(p, box({0, 0}, {1, 1}), {.n_individuals = 3}, 1);
    EXPECT_EQ(std::get<OptimizerError>(outcome).display(),
              "Invalid input: n_individuals must be at least 4 for differential evolution");
    EXPECT_TRUE(p.seen.empty());
    run(p, box({0, 0}, {1, 1}), {.n_individuals = 4, .n_iterations = 3});
    EXPECT_EQ(p.seen.size(), 4u * 4u);
}

TEST(DifferentialEvolution, WithoutIterationsReturnsTheInitialPopulation) {
    Recorded p(2, sphere);
    RunResult r = run(p, box({-1, -1}, {1, 1}), {.n_individuals = 6, .n_iterations = 0});
    EXPECT_EQ(p.seen.size(), 6u);
    EXPECT_TRUE(r.history.empty());
    EXPECT_EQ(r.population, p.seen);
}

TEST(DifferentialEvolution, HistoryHoldsTheBestAfterEachGeneration) {
    Recorded p(3, sphere);
    RunResult r = run(p, box({-2, -2, -2}, {2, 2, 2}), {.n_individuals = 10, .n_iterations = 12});
    ASSERT_EQ(p.seen.size(), 10u * 13u);
    ASSERT_EQ(r.history.size(), 12u);
    for (std::size_t g = 0; g < 12; ++g) {
        double smallest = std::numeric_limits<double>::infinity();
        for (std::size_t k = 0; k < 10 * (g + 2); ++k)
            if (sphere(p.seen[k]) < smallest) smallest = sphere(p.seen[k]);
        EXPECT_EQ(r.history[g], smallest);
    }
    EXPECT_EQ(*r.best_value, r.history.back());
    EXPECT_EQ(sphere(*r.best_solution), *r.best_value);
}

TEST(DifferentialEvolution, EveryPositionLiesInsideTheBox) {
    Recorded p(3, sphere);
    Bounds b = box({0.5, -3, 2}, {2, -1, 2});
    RunResult r = run(p, b, {.n_individuals = 8, .n_iterations = 10, .f = 1.7});
    for (const auto* rows : {&p.seen, &r.population}) {
        for (const auto& x : *rows) {
            for (std::size_t j = 0; j < 3; ++j) {
                EXPECT_GE(x[j], b.lower()[j]);
                EXPECT_LE(x[j], b.upper()[j]);
            }
        }
    }
}

TEST(DifferentialEvolution, ATrialThatTiesItsParentReplacesIt) {
    Recorded p(2, [](std::size_t, std::span<const double>) { return 1.0; });
    RunResult r = run(p, box({-1, -1}, {1, 1}), {.n_individuals = 5, .n_iterations = 1});
    EXPECT_EQ(r.population, p.seen_rows(5, 10));
}

TEST(DifferentialEvolution, WithCrossoverRateZeroATrialDiffersInOneCoordinate) {
    // Trials are worse than every parent, so the parents stay the initial ones.
    Recorded p(4, [](std::size_t call, std::span<const double>) { return call < 6 ? 0.0 : 1.0; });
    RunResult r = run(p, box({-9, -9, -9, -9}, {9, 9, 9, 9}), {.n_individuals = 6, .n_iterations = 3, .cr = 0.0});
    ASSERT_EQ(r.population, p.seen_rows(0, 6));
    for (std::size_t k = 6; k < p.seen.size(); ++k) {
        int changed = 0;
        for (std::size_t j = 0; j < 4; ++j) changed += p.seen[k][j] != p.seen[k % 6][j];
        EXPECT_LE(changed, 1) << "trial " << k;
    }
}

TEST(DifferentialEvolution, ANaNTrialNeverReplacesItsParent) {
    Recorded p(2, [](std::size_t call, std::span<const double>) { return call < 4 ? 2.0 : kNaN; });
    RunResult r = run(p, box({-1, -1}, {1, 1}), {.n_individuals = 4, .n_iterations = 3});
    EXPECT_EQ(r.population, p.seen_rows(0, 4));
    EXPECT_EQ(r.history, (std::vector<double>{2.0, 2.0, 2.0}));
}

TEST(DifferentialEvolution, ANumberReplacesANaNParentAndANaNBest) {
    Recorded p(2, [](std::size_t call, std::span<const double> x) { return call < 4 ? kNaN : sphere(x); });
    RunResult r = run(p, box({-1, -1}, {1, 1}), {.n_individuals = 4, .n_iterations = 1});
    EXPECT_EQ(r.population, p.seen_rows(4, 8));
    ASSERT_FALSE(std::isnan(*r.best_value));
    EXPECT_EQ(sphere(*r.best_solution), *r.best_value);
}

TEST(DifferentialEvolution, AnAbortedEvaluationStopsTheRun) {
    Recorded p(2, [](std::size_t call, std::span<const double>) -> double {
        if (call == 9) throw EvaluationAborted();
        return 0.0;
    });
    EXPECT_THROW(run(p, box({0, 0}, {1, 1}), {.n_individuals = 5, .n_iterations = 10}), EvaluationAborted);
    EXPECT_EQ(p.seen.size(), 10u);
}

TEST(DifferentialEvolution, SizesTooLargeToAllocateFailBeforeAnyEvaluation) {
    Recorded p(2, sphere);
    const std::uint64_t huge[] = {std::uint64_t{1} << 41, ~std::uint64_t{0}};
    for (std::uint64_t n : huge) {
        for (DifferentialEvolutionParams params : {DifferentialEvolutionParams{.n_individuals = n},
                                                   DifferentialEvolutionParams{.n_iterations = n}}) {
            EXPECT_TRUE(allocation_fails([&] { run(p, box({0, 0}, {1, 1}), params); }))
                << "a run of size " << n << " was allocated";
        }
    }
    EXPECT_TRUE(p.seen.empty());
}

}  // namespace
}  // namespace hivekit
