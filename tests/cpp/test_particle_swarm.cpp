#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "algorithms/particle_swarm.hpp"
#include "recorded_problem.hpp"

namespace hivekit {
namespace {

using namespace hivekit::test_support;

RunResult run(Problem& p, const Bounds& b, ParticleSwarmParams params, Seed seed = 3) {
    return std::get<RunResult>(run_particle_swarm(p, b, params, seed));
}

TEST(ParticleSwarm, RejectsAnEmptyBox) {
    Recorded p(0, sphere);
    auto outcome = run_particle_swarm(p, box({}, {}), {}, 1);
    EXPECT_EQ(std::get<OptimizerError>(outcome).display(), "Invalid input: Bounds must have at least one dimension");
    EXPECT_TRUE(p.seen.empty());
}

TEST(ParticleSwarm, EvaluatesEachParticleOncePerIterationPlusInitialisation) {
    Recorded p(3, sphere);
    run(p, box({-1, -1, -1}, {1, 1, 1}), {.n_particles = 7, .n_iterations = 5});
    EXPECT_EQ(p.seen.size(), 7u * 6u);
}

TEST(ParticleSwarm, DrawsPositionBeforeVelocityForEachCoordinate) {
    Recorded p(2, sphere);
    Bounds b = box({-2, 10}, {2, 12});
    run(p, b, {.n_particles = 3, .n_iterations = 0}, 11);
    auto rng = RandomSource::from_seed_u64(11);
    for (std::size_t i = 0; i < 3; ++i) {
        for (std::size_t j = 0; j < 2; ++j) {
            double expected = b.lower()[j] + rng.uniform() * (b.upper()[j] - b.lower()[j]);
            rng.uniform();  // the velocity's draw
            EXPECT_EQ(p.seen[i][j], expected);
        }
    }
}

TEST(ParticleSwarm, WithoutParticlesTheBestIsInfinityAtTheOrigin) {
    Recorded p(2, sphere);
    RunResult r = run(p, box({1, 1}, {2, 2}), {.n_particles = 0, .n_iterations = 4});
    EXPECT_TRUE(p.seen.empty());
    EXPECT_EQ(*r.best_value, kInf);
    EXPECT_EQ(*r.best_solution, (std::vector<double>{0.0, 0.0}));
}

TEST(ParticleSwarm, WithoutIterationsTheFirstOfEqualInitialMinimaWins) {
    Recorded p(1, [](std::span<const double>) { return 1.0; });
    RunResult r = run(p, box({0}, {1}), {.n_particles = 4, .n_iterations = 0});
    EXPECT_EQ(*r.best_value, 1.0);
    EXPECT_EQ(*r.best_solution, p.seen[0]);
}

TEST(ParticleSwarm, BestIsTheSmallestValueSeenAndInsideTheBox) {
    Recorded p(3, sphere);
    Bounds b = box({-1, 0.5, -3}, {1, 2, -1});
    RunResult r = run(p, b, {.n_particles = 10, .n_iterations = 20});
    double smallest = kInf;
    for (auto& x : p.seen) {
        smallest = std::min(smallest, sphere(x));
        for (std::size_t j = 0; j < 3; ++j) {
            EXPECT_GE(x[j], b.lower()[j]);
            EXPECT_LE(x[j], b.upper()[j]);
        }
    }
    EXPECT_EQ(*r.best_value, smallest);
    EXPECT_EQ(sphere(*r.best_solution), smallest);
}

TEST(ParticleSwarm, CoordinateWithEqualLimitsStaysAtTheLimit) {
    Recorded p(2, sphere);
    run(p, box({-1, 0.75}, {1, 0.75}), {.n_particles = 5, .n_iterations = 5});
    for (auto& x : p.seen) EXPECT_EQ(x[1], 0.75);
}

TEST(ParticleSwarm, ANumberReplacesANaNPersonalBest) {
    // The particle's first value is NaN and every later one 1: the NaN personal
    // best gives way, so the swarm's best becomes 1 instead of staying +infinity.
    std::size_t calls = 0;
    Recorded p(1, [&](std::span<const double>) { return calls++ == 0 ? kNaN : 1.0; });
    RunResult r = run(p, box({0}, {1}), {.n_particles = 1, .n_iterations = 2});
    EXPECT_EQ(*r.best_value, 1.0);
    EXPECT_EQ(*r.best_solution, p.seen[1]);
}

TEST(ParticleSwarm, SameSeedSameRun) {
    Recorded a(4, sphere), b(4, sphere);
    Bounds bx = box({-5, -5, -5, -5}, {5, 5, 5, 5});
    RunResult ra = run(a, bx, {.n_particles = 6, .n_iterations = 8}, 99);
    RunResult rb = run(b, bx, {.n_particles = 6, .n_iterations = 8}, 99);
    EXPECT_EQ(a.seen, b.seen);
    EXPECT_EQ(*ra.best_solution, *rb.best_solution);
}

TEST(ParticleSwarm, AnAbortedEvaluationStopsTheRun) {
    std::size_t calls = 0;
    Recorded p(2, [&](std::span<const double>) -> double {
        if (++calls == 5) throw EvaluationAborted();
        return 0.0;
    });
    EXPECT_THROW(run(p, box({0, 0}, {1, 1}), {.n_particles = 3, .n_iterations = 10}), EvaluationAborted);
    EXPECT_EQ(calls, 5u);
}

TEST(ParticleSwarm, ASwarmTooLargeToAllocateFailsBeforeAnyEvaluation) {
    Recorded p(2, sphere);
    for (std::uint64_t n : {std::uint64_t{1} << 40, std::uint64_t{1} << 62, ~std::uint64_t{0}}) {
        EXPECT_TRUE(allocation_fails([&] { run(p, box({0, 0}, {1, 1}), {.n_particles = n, .n_iterations = 1}); }))
            << "a swarm of " << n << " particles was allocated";
    }
    EXPECT_TRUE(p.seen.empty());
}

}  // namespace
}  // namespace hivekit
