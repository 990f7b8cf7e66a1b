// Runs that evaluate nothing for long stretches still give their problem the
// chance to stop them. Each run below would end normally within a fraction of
// a second, so a body that never asks fails its check instead of hanging.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "algorithms/bacterial_foraging.hpp"
#include "algorithms/binary_particle_swarm.hpp"
#include "algorithms/firefly.hpp"
#include "algorithms/glowworm.hpp"
#include "algorithms/mopso.hpp"
#include "algorithms/nsga2.hpp"
#include "algorithms/pareto.hpp"
#include "algorithms/particle_swarm.hpp"
#include "recorder.hpp"

namespace hivekit {
namespace {

using namespace hivekit::test_support;

// Every position is equally good, so no member of a swarm ever moves towards
// another; the first look for an interrupt stops the run.
class StopsWhenAsked final : public Problem {
public:
    double evaluate(std::span<const double>) override { return 0.0; }
    void evaluate_objectives(std::span<const double> x, std::vector<double>& out) override {
        out.assign({x[0], 1.0 - x[0]});
    }
    std::size_t dimension() const override { return 1; }
    bool is_discrete() const override { return false; }
    std::string_view name() const override { return "stops"; }
    const DistanceMatrix* distance_matrix() const override { return nullptr; }
    void check_interrupt() override { throw EvaluationAborted(); }
};

TEST(InterruptChecks, BodiesLookForInterruptsBetweenEvaluations) {
    const Bounds unit = box({0}, {1});
    const std::vector<std::pair<std::string, std::function<Outcome(Problem&)>>> runs = {
        {"empty swarm",
         [&](Problem& p) { return run_particle_swarm(p, unit, {.n_particles = 0, .n_iterations = 10000000}, 1); }},
        {"empty binary swarm",
         [&](Problem& p) {
             return run_binary_particle_swarm(p, unit, {.n_particles = 0, .n_iterations = 10000000}, 1);
         }},
        {"settled fireflies", [&](Problem& p) { return run_firefly(p, unit, {.n_iterations = 10000}, 1); }},
        {"glowworms without targets", [&](Problem& p) { return run_glowworm(p, unit, {.n_iterations = 10000}, 1); }},
        {"bacteria that only reproduce",
         [&](Problem& p) {
             return run_bacterial_foraging(
                 p, unit, {.n_iterations = 100000, .n_chemotactic_steps = 0, .elimination_probability = 0.0}, 1);
         }},
        {"large multi-objective swarm",
         [&](Problem& p) {
             return run_mopso(p, unit, {.n_particles = 2000, .n_iterations = 1, .archive_size = 2000}, 1);
         }},
        {"large genetic population",
         [&](Problem& p) { return run_nsga2(p, unit, {.n_individuals = 2000, .n_iterations = 1}, 1); }},
    };
    for (const auto& [name, run] : runs) {
        StopsWhenAsked problem;
        EXPECT_THROW(run(problem), EvaluationAborted) << name;
    }
}

TEST(InterruptChecks, ALargeNonDominatedSortReportsItsWork) {
    std::vector<Individual> population;
    for (int k = 0; k < 2000; ++k) population.push_back({{0.0}, {k * 1.0, 2000.0 - k}});
    StopsWhenAsked problem;
    WorkMeter meter(problem);
    EXPECT_THROW(non_dominated_sort(population, meter), EvaluationAborted);
    WorkMeter unstoppable;
    EXPECT_EQ(non_dominated_sort(population, unstoppable).size(), 1u);
}

}  // namespace
}  // namespace hivekit
