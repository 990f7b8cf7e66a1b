// Ties, NaN values and edge settings of single classes that neither the
// contract suite nor the recorded runs reach.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "algorithms/bacterial_foraging.hpp"
#include "algorithms/bat_algorithm.hpp"
#include "algorithms/bee_colony.hpp"
#include "algorithms/cma_es.hpp"
#include "algorithms/cuckoo_search.hpp"
#include "algorithms/differential_evolution.hpp"
#include "algorithms/firefly.hpp"
#include "algorithms/grey_wolf.hpp"
#include "algorithms/mopso.hpp"
#include "algorithms/nsga2.hpp"
#include "algorithms/simulated_annealing.hpp"
#include "core/random_source.hpp"
#include "recorder.hpp"

namespace hivekit {
namespace {

using namespace hivekit::test_support;

const Bounds kSquare = box({-1, -1}, {1, 1});

double constant(std::size_t, std::span<const double>) { return 3.0; }

RunResult result(Outcome outcome) { return std::get<RunResult>(std::move(outcome)); }

Rows rows(const Recorder& p, std::size_t from, std::size_t to) {
    return {p.seen.begin() + static_cast<std::ptrdiff_t>(from), p.seen.begin() + static_cast<std::ptrdiff_t>(to)};
}

TEST(DifferentialEvolution, ATrialThatTiesItsParentReplacesIt) {
    Recorder p(2, constant);
    const auto r = result(run_differential_evolution(p, kSquare, {.n_individuals = 5, .n_iterations = 1}, 6));
    EXPECT_EQ(r.population, rows(p, 5, 10));
}

TEST(SimulatedAnnealing, ANaNStartAndEqualCandidatesAreAcceptedWithoutADraw) {
    // Strictly better candidates are accepted without a draw; a walk of ties,
    // or one leaving a NaN start, must take exactly the same steps.
    const SimulatedAnnealingParams params{.step_scale = 0.2, .n_iterations = 30};
    Recorder better(2, [](std::size_t k, std::span<const double>) { return -static_cast<double>(k); });
    Recorder ties(2, constant);
    Recorder from_nan(2, [](std::size_t k, std::span<const double>) { return k == 0 ? kNaN : 3.0; });
    run_simulated_annealing(better, kSquare, params, 12);
    run_simulated_annealing(ties, kSquare, params, 12);
    const auto r = result(run_simulated_annealing(from_nan, kSquare, params, 12));
    EXPECT_EQ(ties.seen, better.seen);
    EXPECT_EQ(from_nan.seen, better.seen);
    EXPECT_EQ(*r.best_solution, from_nan.seen[1]);
    EXPECT_EQ(r.history, std::vector<double>(30, 3.0));
}

TEST(BeeColony, ASingleSourceStepsOneCoordinateByAtMostATenthOfTheWidth) {
    Recorder p(2, constant);  // nothing improves, so every trial starts from the first source
    run_bee_colony(p, box({-1, 0}, {1, 10}), {.n_bees = 1, .n_iterations = 5}, 4);
    for (const auto& x : p.seen) {
        EXPECT_LE(std::fabs(x[0] - p.seen[0][0]), 0.2);
        EXPECT_LE(std::fabs(x[1] - p.seen[0][1]), 1.0);
        EXPECT_TRUE(x[0] == p.seen[0][0] || x[1] == p.seen[0][1]);
    }
}

TEST(GreyWolfOptimizer, TheCoefficientFallsFromTwoToZeroAndIsTwoInASingleIteration) {
    EXPECT_EQ(grey_wolf_coefficient(0, 1), 2.0);
    EXPECT_EQ(grey_wolf_coefficient(2, 5), 1.0);
    EXPECT_EQ(grey_wolf_coefficient(4, 5), 0.0);
}

TEST(BatAlgorithm, SilentBatsNeverAcceptYetKeepMoving) {
    Recorder p(2, sphere);
    const auto r = result(
        run_bat_algorithm(p, box({-3, -3}, {3, 3}), {.n_bats = 6, .n_iterations = 10, .loudness = 0.0}, 2));
    const auto first = std::min_element(p.values.begin(), p.values.begin() + 6) - p.values.begin();
    EXPECT_EQ(*r.best_solution, p.seen[first]);
    EXPECT_EQ(r.history, std::vector<double>(10, p.values[first]));
    EXPECT_NE(r.population, rows(p, 0, 6));
}

TEST(FireflyOptimizer, TiedFirefliesStayAndANaNOneIsAttractedByAll) {
    Recorder tied(2, constant);
    auto r = result(run_firefly(tied, kSquare, {.n_fireflies = 6, .n_iterations = 5}, 5));
    EXPECT_EQ(tied.seen.size(), 6u);
    EXPECT_EQ(r.population, rows(tied, 0, 6));
    // Firefly 0 alone is NaN: it is attracted by all 4 (itself included) and
    // never moves; each other firefly is attracted by firefly 0 only.
    Recorder nan_first(2, [](std::size_t k, std::span<const double>) { return k == 0 ? kNaN : 1.0; });
    r = result(run_firefly(nan_first, kSquare, {.n_fireflies = 4, .n_iterations = 2}, 5));
    EXPECT_EQ(nan_first.seen.size(), 4u + 2u * (4u + 3u));
    EXPECT_EQ(r.population, rows(nan_first, 0, 4));
}

TEST(CuckooSearch, FlightsReplaceNestsThatStartedAtNaN) {
    // Every initial nest and the one rebuilt nest are NaN: only flights
    // replacing the other nests can make the best a number.
    Recorder p(2, [](std::size_t k, std::span<const double> x) { return k < 5 || k == 10 ? kNaN : sphere(k, x); });
    const auto r = result(run_cuckoo_search(p, kSquare, {.n_nests = 5, .n_iterations = 1, .pa = 0.0}, 5));
    EXPECT_FALSE(std::isnan(*r.best_value));
}

TEST(CuckooSearch, TheAbandonedShareSaturatesBetweenOneAndAll) {
    EXPECT_EQ(cuckoo_abandon_count(0.0, 25), 1u);
    EXPECT_EQ(cuckoo_abandon_count(0.25, 25), 7u);
    EXPECT_EQ(cuckoo_abandon_count(-3.0, 25), 1u);
    EXPECT_EQ(cuckoo_abandon_count(kNaN, 25), 1u);
    EXPECT_EQ(cuckoo_abandon_count(1e300, 25), 25u);
}

TEST(BacterialForaging, ReproductionRepeatsTheBetterHalfInRankOrder) {
    EXPECT_EQ(bacterial_reproduction_ranks(5), (std::vector<std::size_t>{0, 1, 0, 1, 0}));
    EXPECT_EQ(bacterial_reproduction_ranks(3), (std::vector<std::size_t>{0, 0, 0}));
}

TEST(CmaEs, FourIndividualsGiveTwoNormalisedLogWeights) {
    const double w0 = std::log(2.5) - std::log(1.0), w1 = std::log(2.5) - std::log(2.0);
    EXPECT_EQ(cma_es_weights(2), (std::vector<double>{w0 / (w0 + w1), w1 / (w0 + w1)}));
}

TEST(CmaEs, NaNSamplesRankLastAndDoNotDragTheMean) {
    // The minimum sits on the edge of a NaN region. Ranked last, NaN samples
    // leave the mean on the numeric side and about a third of the samples
    // fall beyond the edge; ranked among the parents they would pull the mean
    // in and most samples would be NaN.
    std::size_t nans = 0;
    Recorder p(1, [&nans](std::size_t, std::span<const double> x) { return x[0] > 0.0 ? (++nans, kNaN) : -x[0]; });
    const auto r = result(run_cma_es(p, box({-1}, {1}), {.n_individuals = 8, .n_iterations = 60}, 1));
    EXPECT_LT(nans, p.seen.size() / 2);
    EXPECT_EQ(*r.best_value, 0.0);
}

TEST(ParetoOptimisers, ADominanceCycleEmptiesNsga2AndMopsoLeadersOfNoneOrOneTakeNoDraw) {
    // Three NaN-laced vectors that dominate one another in a ring: no front.
    Recorder ring(1, sphere);
    ring.objectives = [](std::size_t k) { return Rows{{0, kNaN, 1}, {1, 0, kNaN}, {kNaN, 1, 0}}[k % 3]; };
    auto r = result(run_nsga2(ring, box({0}, {1}), {.n_individuals = 3, .n_iterations = 4}, 7));
    EXPECT_EQ(ring.seen.size(), 6u);  // the first generation still breeds; nothing survives it
    EXPECT_TRUE(r.population.empty() && r.archive_positions.empty());
    // Without an archive each particle follows its own best, where it already is.
    Recorder p(2, sphere);
    r = result(run_mopso(p, box({-1, -1}, {3, 3}), {.n_particles = 3, .n_iterations = 5, .archive_size = 0}, 9));
    EXPECT_EQ(r.population, rows(p, 0, 3));
    EXPECT_TRUE(r.archive_positions.empty());
    // A single archived individual, here particle 0 of two that never differ, leads without a draw: the
    // particles take the first two uniforms, then r1 and r2 each, and only particle 1 moves.
    Recorder one(1, sphere);
    one.objectives = [](std::size_t) { return std::vector<double>{1.0, 1.0}; };
    run_mopso(one, box({0}, {1}), {.n_particles = 2, .n_iterations = 1, .archive_size = 1}, 21);
    auto rng = RandomSource::from_seed_u64(21);
    std::vector<double> u(6);
    for (double& v : u) v = rng.uniform();
    EXPECT_EQ(one.seen[3][0], (u[5] * 1.5) * (u[0] - u[1]) + u[1]);
}

}  // namespace
}  // namespace hivekit
