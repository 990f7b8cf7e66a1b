#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "algorithms/cma_es.hpp"
#include "recorded_problem.hpp"

namespace hivekit {
namespace {

using namespace hivekit::test_support;

double shifted(std::span<const double> x) {
    double s = 0.0;
    for (double v : x) s += (v - 0.3) * (v - 0.3);
    return s;
}

RunResult run(Problem& p, const Bounds& b, CmaEsParams params, Seed seed = 8) {
    return std::get<RunResult>(run_cma_es(p, b, params, seed));
}

TEST(CmaEs, ReportsAnEmptyBoxBeforeThePopulationSize) {
    Recorded p(0, shifted);
    auto outcome = run_cma_es(p, box({}, {}), {.n_individuals = 3}, 1);
    EXPECT_EQ(std::get<OptimizerError>(outcome).display(), "Invalid input: Problem must have at least one dimension");
}

TEST(CmaEs, NeedsFourIndividuals) {
    Recorded p(2, shifted);
    auto outcome = run_cma_es(p, box({0, 0}, {1, 1}), {.n_individuals = 3}, 1);
    EXPECT_EQ(std::get<OptimizerError>(outcome).display(), "Invalid input: n_individuals must be at least 4 for CMA-ES");
    EXPECT_TRUE(p.seen.empty());
}

TEST(CmaEs, FourIndividualsGiveTwoNormalisedLogWeights) {
    const double w0 = std::log(2.5) - std::log(1.0), w1 = std::log(2.5) - std::log(2.0);
    std::vector<double> w = cma_es_weights(4 / 2);
    ASSERT_EQ(w.size(), 2u);
    EXPECT_DOUBLE_EQ(w[0], w0 / (w0 + w1));
    EXPECT_DOUBLE_EQ(w[1], w1 / (w0 + w1));
}

TEST(CmaEs, WithoutIterationsReturnsTheCentreAfterOneEvaluation) {
    Recorded p(2, shifted);
    RunResult r = run(p, box({-1, 0}, {3, 1}), {.n_iterations = 0});
    ASSERT_EQ(p.seen.size(), 1u);
    EXPECT_EQ(p.seen[0], (std::vector<double>{1.0, 0.5}));
    EXPECT_EQ(*r.best_solution, p.seen[0]);
    EXPECT_EQ(*r.best_value, shifted(p.seen[0]));
    EXPECT_TRUE(r.history.empty());
    EXPECT_TRUE(r.population.empty());
}

TEST(CmaEs, HistoryHoldsTheBestAfterEachGeneration) {
    Recorded p(3, shifted);
    RunResult r = run(p, box({-1, -1, -1}, {1, 1, 1}), {.n_individuals = 6, .n_iterations = 10});
    ASSERT_EQ(p.seen.size(), 1u + 6u * 10u);
    ASSERT_EQ(r.history.size(), 10u);
    for (std::size_t g = 0; g < 10; ++g) {
        double smallest = std::numeric_limits<double>::infinity();
        for (std::size_t k = 0; k <= 6 * (g + 1); ++k)
            if (shifted(p.seen[k]) < smallest) smallest = shifted(p.seen[k]);
        EXPECT_EQ(r.history[g], smallest);
    }
    EXPECT_EQ(*r.best_value, r.history.back());
}

TEST(CmaEs, PopulationIsTheLastGenerationInSamplingOrderInsideTheBox) {
    Recorded p(3, shifted);
    Bounds b = box({-1, 0.25, 5}, {1, 0.5, 5});
    RunResult r = run(p, b, {.n_individuals = 5, .n_iterations = 4, .sigma = 3.0});
    EXPECT_EQ(r.population, std::vector<std::vector<double>>(p.seen.end() - 5, p.seen.end()));
    for (const auto& x : p.seen) {
        for (std::size_t j = 0; j < 3; ++j) {
            EXPECT_GE(x[j], b.lower()[j]);
            EXPECT_LE(x[j], b.upper()[j]);
        }
        EXPECT_EQ(x[2], 5.0);
    }
}

TEST(CmaEs, ANumberReplacesANaNCentre) {
    Recorded p(2, [](std::size_t call, std::span<const double> x) { return call == 0 ? kNaN : shifted(x); });
    RunResult r = run(p, box({-1, -1}, {1, 1}), {.n_individuals = 4, .n_iterations = 1});
    ASSERT_FALSE(std::isnan(*r.best_value));
    EXPECT_EQ(shifted(*r.best_solution), *r.best_value);
}

TEST(CmaEs, NaNSamplesRankLastAndDoNotDragTheMean) {
    // The minimum sits on the edge of a NaN region. With NaN samples ranked
    // last the mean stays on the numeric side and about a third of the
    // samples fall beyond the edge; were they ranked among the parents, the
    // mean would drift into the region and most samples would be NaN.
    std::size_t nans = 0;
    Recorded p(1, [&nans](std::size_t, std::span<const double> x) {
        if (x[0] > 0.0) return ++nans, kNaN;
        return -x[0];
    });
    RunResult r = run(p, box({-1}, {1}), {.n_individuals = 8, .n_iterations = 60}, 1);
    EXPECT_LT(nans, p.seen.size() / 2);
    EXPECT_EQ(*r.best_value, 0.0);
}

TEST(CmaEs, AnAbortedEvaluationStopsTheRun) {
    Recorded p(2, [](std::size_t call, std::span<const double>) -> double {
        if (call == 6) throw EvaluationAborted();
        return 0.0;
    });
    EXPECT_THROW(run(p, box({0, 0}, {1, 1}), {.n_individuals = 4, .n_iterations = 10}), EvaluationAborted);
    EXPECT_EQ(p.seen.size(), 7u);
}

TEST(CmaEs, SizesTooLargeToAllocateFailBeforeAnyEvaluation) {
    Recorded p(2, shifted);
    const std::uint64_t huge[] = {std::uint64_t{1} << 41, ~std::uint64_t{0}};
    for (std::uint64_t n : huge) {
        for (CmaEsParams params : {CmaEsParams{.n_individuals = n}, CmaEsParams{.n_iterations = n}}) {
            EXPECT_TRUE(allocation_fails([&] { run(p, box({0, 0}, {1, 1}), params); }))
                << "a run of size " << n << " was allocated";
        }
    }
    EXPECT_TRUE(p.seen.empty());
}

}  // namespace
}  // namespace hivekit
