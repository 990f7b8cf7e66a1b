// BinaryParticleSwarm body: evaluation counts, edge sizes, NaN values and the
// box acting only as the number of bits.
#include <gtest/gtest.h>

#include <span>
#include <vector>

#include "algorithms/binary_particle_swarm.hpp"
#include "core/random_source.hpp"
#include "recorded_problem.hpp"

namespace {

using hivekit::BinaryParticleSwarmParams;
using hivekit::Bounds;
using hivekit::RunResult;
using namespace hivekit::test_support;

double minus_ones(std::span<const double> bits) {
    double total = 0.0;
    for (double b : bits) total = total - b;
    return total;
}

RunResult run(Recorded& problem, const Bounds& bounds, const BinaryParticleSwarmParams& params,
              std::uint64_t seed = 7) {
    return std::get<RunResult>(hivekit::run_binary_particle_swarm(problem, bounds, params, seed));
}

TEST(BinaryParticleSwarm, EvaluatesEveryParticleOncePerIteration) {
    Recorded problem(5, minus_ones);
    BinaryParticleSwarmParams params;
    params.n_particles = 4;
    params.n_iterations = 6;
    auto result = run(problem, box({0, 0, 0, 0, 0}, {1, 1, 1, 1, 1}), params);
    EXPECT_EQ(problem.seen.size(), 4u * (1 + 6));
    EXPECT_EQ(result.history.size(), 6u);
    for (std::size_t k = 1; k < result.history.size(); ++k) EXPECT_LE(result.history[k], result.history[k - 1]);
}

TEST(BinaryParticleSwarm, ZeroIterationsKeepTheInitialBitsAndTheFirstEqualBest) {
    Recorded problem(3, [](std::span<const double>) { return 0.0; });
    BinaryParticleSwarmParams params;
    params.n_particles = 4;
    params.n_iterations = 0;
    auto result = run(problem, box({0, 0, 0}, {1, 1, 1}), params, 13);
    auto rng = hivekit::RandomSource::from_seed_u64(13);
    std::vector<std::vector<double>> expected(4);
    for (auto& row : expected)
        for (int j = 0; j < 3; ++j) row.push_back(rng.uniform() < 0.5 ? 1.0 : 0.0);
    EXPECT_EQ(result.population, expected);
    EXPECT_TRUE(result.history.empty());
    EXPECT_EQ(result.best_solution, expected[0]);
    EXPECT_EQ(result.best_value, 0.0);
}

TEST(BinaryParticleSwarm, NoParticlesGiveZerosAndInfinity) {
    Recorded problem(3, minus_ones);
    BinaryParticleSwarmParams params;
    params.n_particles = 0;
    params.n_iterations = 3;
    auto result = run(problem, box({0, 0, 0}, {1, 1, 1}), params);
    EXPECT_EQ(result.best_solution, (std::vector<double>{0, 0, 0}));
    EXPECT_EQ(result.best_value, kInf);
    EXPECT_EQ(result.history, (std::vector<double>{kInf, kInf, kInf}));
    EXPECT_TRUE(result.population.empty());
}

TEST(BinaryParticleSwarm, AlwaysNaNObjectiveLeavesZerosAndInfinity) {
    Recorded problem(2, [](std::span<const double>) { return kNaN; });
    BinaryParticleSwarmParams params;
    params.n_particles = 3;
    params.n_iterations = 2;
    auto result = run(problem, box({0, 0}, {1, 1}), params);
    EXPECT_EQ(result.best_solution, (std::vector<double>{0, 0}));
    EXPECT_EQ(result.best_value, kInf);
    EXPECT_EQ(result.history, (std::vector<double>{kInf, kInf}));
}

TEST(BinaryParticleSwarm, NumberReplacesANaNPersonalBest) {
    // The only particle starts with NaN; its later numbers must still count.
    std::size_t calls = 0;
    Recorded problem(2, [&](std::span<const double>) { return ++calls == 1 ? kNaN : 5.0; });
    BinaryParticleSwarmParams params;
    params.n_particles = 1;
    params.n_iterations = 2;
    auto result = run(problem, box({0, 0}, {1, 1}), params);
    EXPECT_EQ(result.best_value, 5.0);
    EXPECT_EQ(result.history, (std::vector<double>{5.0, 5.0}));
}

TEST(BinaryParticleSwarm, BoundValuesDoNotMatter) {
    Recorded a(3, minus_ones), b(3, minus_ones);
    BinaryParticleSwarmParams params;
    params.n_particles = 5;
    params.n_iterations = 4;
    auto wide = run(a, box({0, 0, 0}, {5, 5, 5}), params, 3);
    auto unit = run(b, box({0, 0, 0}, {1, 1, 1}), params, 3);
    EXPECT_EQ(wide.best_solution, unit.best_solution);
    EXPECT_EQ(wide.best_value, unit.best_value);
    EXPECT_EQ(wide.history, unit.history);
    EXPECT_EQ(wide.population, unit.population);
}

TEST(BinaryParticleSwarm, EmptyBoxIsInvalidInput) {
    Recorded problem(0, minus_ones);
    auto outcome = hivekit::run_binary_particle_swarm(problem, box({}, {}), BinaryParticleSwarmParams{}, 1);
    const auto& error = std::get<hivekit::OptimizerError>(outcome);
    EXPECT_EQ(error.kind, hivekit::ErrorKind::InvalidInput);
    EXPECT_EQ(error.message, "binary PSO requires at least one dimension");
}

}  // namespace
