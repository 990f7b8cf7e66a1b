#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "algorithms/simulated_annealing.hpp"
#include "core/random_source.hpp"
#include "recorded_problem.hpp"

namespace hivekit {
namespace {

using namespace hivekit::test_support;

double absolute(std::span<const double> x) {
    double s = 0.0;
    for (double v : x) s += std::fabs(v - 0.1);
    return s;
}

// The call number: every candidate is worse than every point before it.
double worsening(std::size_t call, std::span<const double>) { return static_cast<double>(call); }

RunResult run(Problem& p, const Bounds& b, SimulatedAnnealingParams params, Seed seed = 9) {
    return std::get<RunResult>(run_simulated_annealing(p, b, params, seed));
}

// Checks that each candidate was drawn from the one before it with exactly d
// uniforms, that is, every candidate was accepted and no acceptance draw was made.
void expect_walk_without_acceptance_draws(const Recorded& p, const Bounds& b, double step_scale, std::uint64_t seed) {
    RandomSource rng = RandomSource::from_seed_u64(seed);
    const std::size_t d = b.dimension();
    for (std::size_t j = 0; j < d; ++j) rng.uniform();
    for (std::size_t k = 1; k < p.seen.size(); ++k) {
        std::vector<double> y(d);
        for (std::size_t j = 0; j < d; ++j)
            y[j] = p.seen[k - 1][j] + ((2.0 * rng.uniform() - 1.0) * step_scale) * (b.upper()[j] - b.lower()[j]);
        b.clip(y);
        EXPECT_EQ(p.seen[k], y) << "candidate " << k;
    }
}

TEST(SimulatedAnnealing, RejectsAnEmptyBox) {
    Recorded p(0, absolute);
    auto outcome = run_simulated_annealing(p, box({}, {}), {}, 1);
    EXPECT_EQ(std::get<OptimizerError>(outcome).display(), "Invalid input: Problem must have at least one dimension");
    EXPECT_TRUE(p.seen.empty());
}

TEST(SimulatedAnnealing, WithoutIterationsTheStartPointIsBestAndPopulation) {
    Recorded p(2, absolute);
    RunResult r = run(p, box({-1, -1}, {1, 1}), {.n_iterations = 0});
    ASSERT_EQ(p.seen.size(), 1u);
    EXPECT_EQ(*r.best_solution, p.seen[0]);
    EXPECT_EQ(r.population, p.seen);
    EXPECT_TRUE(r.history.empty());
}

TEST(SimulatedAnnealing, HistoryHoldsTheBestAfterEachIteration) {
    Recorded p(3, absolute);
    Bounds b = box({-2, -2, 0.5}, {2, 2, 0.5});
    RunResult r = run(p, b, {.n_iterations = 40});
    ASSERT_EQ(p.seen.size(), 41u);
    ASSERT_EQ(r.history.size(), 40u);
    for (std::size_t k = 1; k < 40; ++k) EXPECT_LE(r.history[k], r.history[k - 1]);
    EXPECT_EQ(*r.best_value, r.history.back());
    EXPECT_EQ(absolute(*r.best_solution), *r.best_value);
    ASSERT_EQ(r.population.size(), 1u);
    for (const auto& x : p.seen) {
        for (std::size_t j = 0; j < 3; ++j) {
            EXPECT_GE(x[j], b.lower()[j]);
            EXPECT_LE(x[j], b.upper()[j]);
        }
    }
}

TEST(SimulatedAnnealing, EqualCandidatesAreAcceptedWithoutADraw) {
    Recorded p(2, [](std::size_t, std::span<const double>) { return 3.0; });
    Bounds b = box({-1, 0}, {1, 4});
    RunResult r = run(p, b, {.step_scale = 0.2, .n_iterations = 30}, 12);
    expect_walk_without_acceptance_draws(p, b, 0.2, 12);
    EXPECT_EQ(r.population[0], p.seen.back());
}

TEST(SimulatedAnnealing, FromANaNStartAnyNumberIsAcceptedWithoutADraw) {
    Recorded p(2, [](std::size_t call, std::span<const double>) { return call == 0 ? kNaN : 3.0; });
    Bounds b = box({-1, 0}, {1, 4});
    RunResult r = run(p, b, {.step_scale = 0.2, .n_iterations = 30}, 12);
    expect_walk_without_acceptance_draws(p, b, 0.2, 12);
    EXPECT_EQ(*r.best_value, 3.0);
    EXPECT_EQ(*r.best_solution, p.seen[1]);
    EXPECT_EQ(r.history, std::vector<double>(30, 3.0));
}

TEST(SimulatedAnnealing, ANaNCandidateIsRejected) {
    Recorded p(2, [](std::size_t call, std::span<const double>) { return call == 0 ? 1.0 : kNaN; });
    RunResult r = run(p, box({-1, -1}, {1, 1}), {.initial_temperature = 1e300, .n_iterations = 10});
    EXPECT_EQ(r.population[0], p.seen[0]);
    EXPECT_EQ(r.history, std::vector<double>(10, 1.0));
}

TEST(SimulatedAnnealing, WithCoolingRateOneTheTemperatureNeverFalls) {
    // Each candidate is worse by 1; at 2^60 degrees exp(-1 / T) is exactly 1,
    // so every one is accepted while the temperature holds, and the walker
    // ends on the last candidate. Any cooling would end in rejections.
    Recorded held(2, worsening), cooled(2, worsening);
    Bounds b = box({-1, -1}, {1, 1});
    RunResult r = run(held, b, {.initial_temperature = 0x1p60, .cooling_rate = 1.0, .n_iterations = 2000});
    EXPECT_EQ(r.population[0], held.seen.back());
    EXPECT_EQ(r.history, std::vector<double>(2000, 0.0));
    RunResult c = run(cooled, b, {.initial_temperature = 0x1p60, .cooling_rate = 0.95, .n_iterations = 2000});
    EXPECT_NE(c.population[0], cooled.seen.back());
}

TEST(SimulatedAnnealing, AnAbortedEvaluationStopsTheRun) {
    Recorded p(2, [](std::size_t call, std::span<const double>) -> double {
        if (call == 4) throw EvaluationAborted();
        return 0.0;
    });
    EXPECT_THROW(run(p, box({0, 0}, {1, 1}), {.n_iterations = 10}), EvaluationAborted);
    EXPECT_EQ(p.seen.size(), 5u);
}

TEST(SimulatedAnnealing, AHistoryTooLongToAllocateFailsBeforeAnyEvaluation) {
    Recorded p(2, absolute);
    for (std::uint64_t n : {std::uint64_t{1} << 41, ~std::uint64_t{0}}) {
        EXPECT_TRUE(allocation_fails([&] { run(p, box({0, 0}, {1, 1}), {.n_iterations = n}); }))
            << "a history of " << n << " entries was allocated";
    }
    EXPECT_TRUE(p.seen.empty());
}

}  // namespace
}  // namespace hivekit
