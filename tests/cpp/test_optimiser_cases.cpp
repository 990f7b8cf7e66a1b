// Ties, NaN values, rule sets and edge settings of single classes that neither
// the contract suite, the recorded runs nor the Python tests reach.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>

#include "algorithms/ant_colony.hpp"
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
#include "algorithms/permutation_genetic.hpp"
#include "algorithms/simulated_annealing.hpp"
#include "core/random_source.hpp"
#include "core/tour_problem.hpp"
#include "plain_two_opt.hpp"
#include "recorder.hpp"
#include "tour_fixtures.hpp"

namespace hivekit {
namespace {

using namespace hivekit::test_support;
using tour_fixtures::CountingTour;
using tour_fixtures::random_plane;

const Bounds kSquare = box({-1, -1}, {1, 1});
double constant(std::size_t, std::span<const double>) { return 3.0; }
double sphere(std::size_t, std::span<const double> x) { return std::inner_product(x.begin(), x.end(), x.begin(), 0.0); }
Rows rows(const Recorder& p, std::size_t from, std::size_t to) { return {p.seen.begin() + from, p.seen.begin() + to}; }

TEST(DifferentialEvolution, ATrialThatTiesItsParentReplacesIt) {
    Recorder p(2, constant);
    const auto r = result_of(run_differential_evolution(p, kSquare, {.n_individuals = 5, .n_iterations = 1}, 6));
    EXPECT_EQ(r.population, rows(p, 5, 10));
}

// Strictly better candidates are accepted without a draw; a walk of ties, or one
// leaving a NaN start, must take exactly the same steps.
TEST(SimulatedAnnealing, ANaNStartAndEqualCandidatesAreAcceptedWithoutADraw) {
    const SimulatedAnnealingParams params{.step_scale = 0.2, .n_iterations = 30};
    Recorder better(2, [](std::size_t k, std::span<const double>) { return -static_cast<double>(k); }), ties(2, constant);
    Recorder from_nan(2, [](std::size_t k, std::span<const double>) { return k == 0 ? kNaN : 3.0; });
    run_simulated_annealing(better, kSquare, params, 12);
    run_simulated_annealing(ties, kSquare, params, 12);
    const auto r = result_of(run_simulated_annealing(from_nan, kSquare, params, 12));
    EXPECT_EQ(ties.seen, better.seen);
    EXPECT_EQ(from_nan.seen, better.seen);
    EXPECT_EQ(*r.best_solution, from_nan.seen[1]);
    EXPECT_EQ(r.history, std::vector<double>(30, 3.0));
}

// Nothing improves, so every trial starts from the one source; between them the steps reach out to nearly a
// tenth of the width on both sides of it, and no further.
TEST(BeeColony, ASingleSourceStepsOneCoordinateByAtMostATenthOfTheWidth) {
    Recorder p(2, constant);
    run_bee_colony(p, box({-1, 0}, {1, 10}), {.n_bees = 1, .n_iterations = 300, .limit = UINT64_MAX}, 4);
    const double width[] = {2.0, 10.0};
    double reach[2][2] = {{0, 0}, {0, 0}};  // per coordinate: the farthest step down, up, as a share of the width
    for (const auto& x : p.seen) {
        EXPECT_TRUE(x[0] == p.seen[0][0] || x[1] == p.seen[0][1]);
        for (int j = 0; j < 2; ++j) {
            const double step = (x[j] - p.seen[0][j]) / width[j];
            reach[j][step > 0] = std::max(reach[j][step > 0], std::fabs(step));
        }
    }
    for (auto& coordinate : reach)
        for (double r : coordinate) EXPECT_TRUE(r > 0.095 && r <= 0.1) << r;
}

// Two sources whose costs never change (every later value is +infinity, and nothing is abandoned): the
// onlookers choose source 0 (cost -10, fitness 11) over source 1 (cost -1, fitness 2) eleven times in thirteen.
TEST(BeeColony, OnlookersChooseNegativeCostSourcesByTheirFitness) {
    Recorder p(2, [](std::size_t k, std::span<const double>) { return k == 0 ? -10.0 : k == 1 ? -1.0 : kInf; });
    const std::uint64_t iterations = 3000;
    run_bee_colony(p, kSquare, {.n_bees = 4, .n_iterations = iterations, .limit = UINT64_MAX}, 3);
    ASSERT_EQ(p.seen.size(), 2 + 4 * iterations);  // per iteration: two employed trials, then two onlookers
    std::size_t first = 0;
    for (std::uint64_t t = 0; t < iterations; ++t)
        for (std::size_t o = 0; o < 2; ++o) {
            const auto& x = p.seen[2 + 4 * t + 2 + o];  // keeps all but one coordinate of the source it tries
            first += x[0] == p.seen[0][0] || x[1] == p.seen[0][1];
        }
    EXPECT_NEAR(static_cast<double>(first) / (2.0 * iterations), 11.0 / 13.0, 0.02);
}

TEST(BatAlgorithm, SilentBatsNeverAcceptYetKeepMoving) {
    Recorder p(2, sphere);
    const auto r =
        result_of(run_bat_algorithm(p, box({-3, -3}, {3, 3}), {.n_bats = 6, .n_iterations = 10, .loudness = 0.0}, 2));
    const auto first = std::min_element(p.values.begin(), p.values.begin() + 6) - p.values.begin();
    EXPECT_EQ(*r.best_solution, p.seen[first]);
    EXPECT_EQ(r.history, std::vector<double>(10, p.values[first]));
    EXPECT_NE(r.population, rows(p, 0, 6));
    // Silent bats turn every value down, yet a number still takes the place of a NaN best.
    Recorder nan_start(2, [](std::size_t k, std::span<const double> x) { return k < 6 ? kNaN : sphere(k, x); });
    const auto later = result_of(
        run_bat_algorithm(nan_start, box({-3, -3}, {3, 3}), {.n_bats = 6, .n_iterations = 3, .loudness = 0.0}, 2));
    EXPECT_EQ(later.best_value, nan_start.values[6]);
}

// Tied fireflies stay put and evaluate nothing more. Firefly 0 alone NaN is attracted by all four (itself
// included) yet never moves, and the others by it only, each evaluating where it lands.
TEST(FireflyOptimizer, TiedFirefliesStayAndANaNOneIsAttractedByAll) {
    for (auto [n, nan_first, evaluations] : {std::tuple{6u, false, 6u}, {4u, true, 4u + 2u * (4u + 3u)}}) {
        Recorder p(2, [nan_first = nan_first](std::size_t k, std::span<const double>) { return nan_first && k == 0 ? kNaN : 1.0; });
        const auto r = result_of(run_firefly(p, kSquare, {.n_fireflies = n, .n_iterations = nan_first ? 2u : 5u}, 5));
        EXPECT_EQ(r.population, rows(p, 0, n));
        EXPECT_EQ(p.seen.size(), evaluations);
    }
}

// Every initial nest and the one rebuilt nest are NaN: only flights replacing the other nests make the best a number.
TEST(CuckooSearch, FlightsReplaceNestsThatStartedAtNaN) {
    Recorder p(2, [](std::size_t k, std::span<const double> x) { return k < 5 || k == 10 ? kNaN : sphere(k, x); });
    const auto r = result_of(run_cuckoo_search(p, kSquare, {.n_nests = 5, .n_iterations = 1, .pa = 0.0}, 5));
    EXPECT_FALSE(std::isnan(*r.best_value));
}

TEST(BodyRules, WolfCoefficientAbandonedNestsReproductionRanksAndCmaEsWeightsForFourIndividuals) {
    EXPECT_EQ(grey_wolf_coefficient(0, 1), 2.0);  // a single iteration still starts at two
    EXPECT_EQ(grey_wolf_coefficient(2, 5), 1.0);
    EXPECT_EQ(grey_wolf_coefficient(4, 5), 0.0);
    for (auto [pa, count] : {std::pair{0.0, 1u}, {0.25, 7u}, {-3.0, 1u}, {kNaN, 1u}, {1e300, 25u}})
        EXPECT_EQ(cuckoo_abandon_count(pa, 25), count) << pa;  // between one and all
    EXPECT_EQ(bacterial_reproduction_ranks(5), (Tour{0, 1, 0, 1, 0}));  // the better half, repeated in rank order
    EXPECT_EQ(bacterial_reproduction_ranks(3), (Tour{0, 0, 0}));
    const double w0 = std::log(2.5) - std::log(1.0), w1 = std::log(2.5) - std::log(2.0);
    EXPECT_EQ(cma_es_weights(2), (std::vector<double>{w0 / (w0 + w1), w1 / (w0 + w1)}));
}

// The minimum sits on the edge of a NaN region: NaN samples ranked among the parents would pull the mean in.
TEST(CmaEs, NaNSamplesRankLastAndDoNotDragTheMean) {
    std::size_t nans = 0;
    Recorder p(1, [&nans](std::size_t, std::span<const double> x) { return x[0] > 0.0 ? (++nans, kNaN) : -x[0]; });
    const auto r = result_of(run_cma_es(p, box({-1}, {1}), {.n_individuals = 8, .n_iterations = 60}, 1));
    EXPECT_LT(nans, p.seen.size() / 2);
    EXPECT_EQ(*r.best_value, 0.0);
}

TEST(ParetoOptimisers, ADominanceCycleEmptiesNsga2AndMopsoLeadersOfNoneOrOneTakeNoDraw) {
    Recorder ring(1, sphere);  // NaN-laced vectors dominating one another in a ring: a generation breeds, none survives
    ring.objectives = [](std::size_t k) { return Rows{{0, kNaN, 1}, {1, 0, kNaN}, {kNaN, 1, 0}}[k % 3]; };
    auto r = result_of(run_nsga2(ring, box({0}, {1}), {.n_individuals = 3, .n_iterations = 4}, 7));
    EXPECT_EQ(ring.seen.size(), 6u);
    EXPECT_TRUE(r.population.empty() && r.archive_positions.empty());
    // Without an archive each particle follows its own best, where it already is.
    Recorder p(2, sphere);
    r = result_of(run_mopso(p, box({-1, -1}, {3, 3}), {.n_particles = 3, .n_iterations = 5, .archive_size = 0}, 9));
    EXPECT_TRUE(r.population == rows(p, 0, 3) && r.archive_positions.empty());
    // A lone archived leader (particle 0 of two that never differ) takes no draw: only particle 1 moves, by r1, r2.
    Recorder one(1, sphere);
    one.objectives = [](std::size_t) { return std::vector<double>{1.0, 1.0}; };
    run_mopso(one, box({0}, {1}), {.n_particles = 2, .n_iterations = 1, .archive_size = 1}, 21);
    auto rng = RandomSource::from_seed_u64(21);
    std::vector<double> u(6);
    rng.fill_uniform(u);
    EXPECT_EQ(one.seen[3][0], (u[5] * 1.5) * (u[0] - u[1]) + u[1]);
}

RunResult ants(CountingTour&& problem, AntColonyParams params, std::uint64_t seed = 7) {
    return result_of(run_ant_colony(problem, params, seed));
}
RunResult genetic(CountingTour&& problem, PermutationGeneticParams params) {
    return result_of(run_permutation_genetic(problem, params, 3));
}
DistanceMatrix filled(std::size_t n, double value) { return DistanceMatrix(n, std::vector<double>(n * n, value)); }
Tour cities(const RunResult& r) { return {r.best_solution->begin(), r.best_solution->end()}; }
constexpr AntColonyParams kOneWalk{.n_ants = 1, .n_iterations = 1, .use_two_opt = false};  // the result is that walk

TEST(AntColony, EachRuleSetSearchesDifferently) {
    const AntColonyParams basic{.n_ants = 5, .n_iterations = 30, .use_two_opt = false};
    for (AntVariant v : {AntVariant::Acs, AntVariant::Elitist, AntVariant::Mmas}) {
        AntColonyParams other = basic;
        other.variant = v;
        EXPECT_NE(cities(ants(CountingTour(random_plane(20, 8)), basic)),
                  cities(ants(CountingTour(random_plane(20, 8)), other)));
    }
}

// With q0 = 1 every ACS step is greedy: after the start city the only draws are
// the ACS tests, and on equal pheromone the heaviest edge leads to the nearest unvisited city.
TEST(AntColony, CertainlyGreedyAcsWalksToTheNearestCityFromTheSeededStart) {
    const std::size_t n = 8;
    const DistanceMatrix d = random_plane(n, 9);
    AntColonyParams p = kOneWalk;
    p.variant = AntVariant::Acs;
    p.q0 = 1.0;
    const auto start = static_cast<std::size_t>(RandomSource::from_seed_u64(42).index_below(n));
    EXPECT_EQ(cities(ants(CountingTour(d), p, 42)), nearest_neighbour_tour(d, start));
}

// Weights that underflow to zero or overflow to infinity leave no usable roulette:
// each step draws one index into the unvisited cities, in ascending order.
TEST(AntColony, UnusableWeightsPickUniformlyAmongUnvisitedCities) {
    for (double distance : {10.0, 1e-5}) {
        AntColonyParams p = kOneWalk;
        p.beta = 1e6;
        auto rng = RandomSource::from_seed_u64(5);
        Tour unvisited(7), expected;
        std::iota(unvisited.begin(), unvisited.end(), std::size_t{0});
        while (!unvisited.empty()) {
            const auto k = static_cast<std::ptrdiff_t>(rng.index_below(unvisited.size()));
            expected.push_back(unvisited[k]);
            unvisited.erase(unvisited.begin() + k);
        }
        EXPECT_EQ(cities(ants(CountingTour(filled(7, distance)), p, 5)), expected) << distance;
    }
}

// Costs that are not positive numbers never become the best nor deposit; with no finite tour the colony fails.
TEST(TourOptimisers, CostsThatAreNotPositiveNumbers) {
    for (AntVariant v : {AntVariant::Basic, AntVariant::Acs, AntVariant::Elitist, AntVariant::Mmas})
        EXPECT_EQ(*ants(CountingTour(filled(6, 0.0)), {.n_ants = 5, .n_iterations = 6, .variant = v}).best_value, 0.0);
    CountingTour some_nan(random_plane(8, 10)), first_nan(random_plane(6, 11));
    some_nan.nan_evaluations = 3;
    EXPECT_FALSE(std::isnan(*ants(std::move(some_nan), {.n_ants = 5, .n_iterations = 6}).best_value));
    for (double value : {INFINITY, NAN}) {
        CountingTour forbidden(filled(6, value));
        const Outcome failed = run_ant_colony(forbidden, {.n_ants = 5, .variant = AntVariant::Elitist}, 7);
        const auto* error = std::get_if<OptimizerError>(&failed);
        ASSERT_TRUE(error);
        EXPECT_EQ(error->display(), "Convergence error: no ant completed a finite tour in 100 iterations of 5 ants");
        EXPECT_EQ(forbidden.evaluations, 500u);
    }
    first_nan.nan_evaluations = 1;  // the genetic population ranks it last
    const RunResult r = genetic(std::move(first_nan), {.n_individuals = 4, .n_iterations = 0, .use_two_opt = false});
    EXPECT_EQ(*r.best_value, TourProblem(random_plane(6, 11)).evaluate(r.population.front()));
}

TEST(PermutationGenetic, OrderCrossoverFillsFromTheSecondParentAfterTheSegment) {
    const auto child = [](const Tour& first, const Tour& second, std::size_t start, std::size_t end) {
        Tour out(first.size());
        std::vector<unsigned char> placed;
        order_crossover(first, second, start, end, out, placed);
        return out;
    };
    EXPECT_EQ(child({0, 1, 2, 3, 4}, {4, 2, 0, 3, 1}, 3, 4), (Tour{2, 0, 1, 3, 4}));  // wraps to position 0
    EXPECT_EQ(child({3, 1, 0, 2}, {0, 1, 2, 3}, 0, 3), (Tour{3, 1, 0, 2}));
}

TEST(TourOptimisers, TwoOptPolishesFromFourCitiesOn) {
    const DistanceMatrix three(3, {0, 1, 7, 2, 0, 1, 9, 3, 0}), twenty = random_plane(20, 9);
    const AntColonyParams a_on{.n_ants = 5, .n_iterations = 6}, a_off{.n_ants = 5, .n_iterations = 6, .use_two_opt = false};
    const PermutationGeneticParams g_on{.n_individuals = 6, .n_iterations = 4},
        g_off{.n_individuals = 6, .n_iterations = 4, .use_two_opt = false};
    EXPECT_EQ(cities(ants(CountingTour(three), a_on)), cities(ants(CountingTour(three), a_off)));
    EXPECT_EQ(genetic(CountingTour(three), g_on).population, genetic(CountingTour(three), g_off).population);
    EXPECT_LT(*ants(CountingTour(twenty), a_on).best_value, *ants(CountingTour(twenty), a_off).best_value);
    EXPECT_LT(*genetic(CountingTour(twenty), g_on).best_value, *genetic(CountingTour(twenty), g_off).best_value);
}

}  // namespace
}  // namespace hivekit
