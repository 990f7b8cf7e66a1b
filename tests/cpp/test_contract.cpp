// What every optimiser class of the registry keeps: refusals, evaluation counts,
// positions in the box, history, NaN handling, size guards, interrupts, aborted
// runs and reproducibility, for every class of the registry.
#include <gtest/gtest.h>

#include <algorithm>
#include <new>
#include <stdexcept>
#include <string>
#include <tuple>

#include "algorithms/registry.hpp"
#include "core/tour_problem.hpp"
#include "recorder.hpp"
#include "tour_fixtures.hpp"

namespace hivekit {
namespace {

using namespace hivekit::test_support;
using tour_fixtures::CountingTour;
using U = std::uint64_t;

constexpr const char* kNoDimension = "Problem must have at least one dimension";

// What the registry does not say about a class: its refusal of an empty box (of a
// matrix without cities), whether every improvement on the best so far becomes the
// best at once, the parameter that, set to 1000, keeps the count of objective calls
// fixed, and the parameters whose zero leaves a run with nothing to improve working
// without evaluating. The smallest sizes, their refusals and the counts of objective
// calls are the registry's, held here to what the bodies do.
struct Expected {
    std::string_view name;
    const char* empty;
    bool running_min;
    const char* calm = nullptr;
    const char* quiet[2] = {};
};

const Expected kExpected[] = {
    {"AntColony", "ant colony requires a non-empty distance matrix", true},
    {"ParticleSwarm", "Bounds must have at least one dimension", true},
    {"BeeColony", "Bounds must have at least one dimension", true, "limit"},
    {"GreyWolfOptimizer", kNoDimension, true},
    {"FireflyOptimizer", kNoDimension, true},
    {"SimulatedAnnealing", kNoDimension, true},
    {"CuckooSearch", kNoDimension, false},
    {"BatAlgorithm", kNoDimension, false},
    {"GlowwormOptimizer", kNoDimension, true},
    {"BacterialForagingOptimizer", kNoDimension, true, nullptr, {"n_chemotactic_steps", "elimination_probability"}},
    {"DifferentialEvolution", kNoDimension, true},
    {"CmaEsOptimizer", kNoDimension, true},
    {"PermutationGeneticOptimizer", "distance matrix must have at least 3 cities", false},
    {"BinaryParticleSwarm", "binary PSO requires at least one dimension", true},
    {"Nsga2Optimizer", "bounds must not be empty", false},
    {"MopsoOptimizer", "bounds must not be empty", false},
};

// A class without a row has the shared refusal of an empty box and is held to
// the weaker rule on its best.
const Expected& expected(const ClassSpec& cls) {
    static const Expected kOther{"", kNoDimension, false};
    for (const Expected& e : kExpected)
        if (e.name == cls.surface.name) return e;
    return kOther;
}

std::vector<const ClassSpec*> classes(FitInput input) {
    std::vector<const ClassSpec*> out;
    for (const ClassSpec& cls : registry())
        if (cls.surface.input == input) out.push_back(&cls);
    return out;
}

// Three coordinates, one of them fixed. The objective's minimum lies inside
// along the first and outside along the second, so moves both pass the best
// and keep running into a face.
const Bounds kBox = box({-1, 0.5, 2}, {1, 2, 2});
double outside(std::size_t, std::span<const double> x) {
    return ((x[0] - 0.3) * (x[0] - 0.3) + (x[1] - 3.0) * (x[1] - 3.0)) + (x[2] - 3.0) * (x[2] - 3.0);
}
double falling(std::size_t k, std::span<const double>) { return -static_cast<double>(k); }
const DistanceMatrix kCities = tour_fixtures::random_plane(7, 3);

// A fit with the parameter that keeps the count of objective calls fixed set to 1000.
struct Fit : test_support::Fit {
    Fit(const ClassSpec& s, U n, U t) : test_support::Fit(s, n, t) {
        if (const char* calm = expected(s).calm) at(calm).size = 1000;
    }
    Outcome run(Problem& p, Seed seed = 7, const Bounds& b = kBox) const { return test_support::Fit::run(p, seed, b); }
    using test_support::Fit::count;
    // The objective calls of the same run over t iterations.
    U count(U t) const {
        Fit shorter = *this;
        shorter.at("n_iterations").size = t;
        return shorter.count().value();
    }
};

// The sizes that run: the smallest and 6, or where any size runs 0, 1 and 6.
std::vector<U> running_sizes(const ClassSpec& cls) {
    const U least = cls.smallest.minimum;
    return least ? std::vector<U>{least, 6} : std::vector<U>{0, 1, 6};
}

std::string refusal(const Outcome& outcome) {
    auto* error = std::get_if<OptimizerError>(&outcome);
    return error ? error->display() : "(no refusal)";
}

auto fields(const RunResult& r) {
    return std::tie(r.best_value, r.best_solution, r.history, r.population, r.archive_positions, r.archive_objectives);
}

bool contains(const Rows& rows, const std::vector<double>& x) { return std::find(rows.begin(), rows.end(), x) != rows.end(); }

// The checks every run of a box class passes.
void expect_contract(Fit& s, const Recorder& p, const RunResult& r, U t) {
    const Family family = s.cls.surface.family;
    EXPECT_TRUE(!s.count() || p.seen.size() == *s.count()) << p.seen.size();
    const bool bits = s.cls.surface.probe == Probe::Zeros;  // the box gives only the number of bits
    for (const auto& x : p.seen)
        for (std::size_t j = 0; j < x.size(); ++j)
            EXPECT_TRUE(bits ? x[j] == 0.0 || x[j] == 1.0 : kBox.lower()[j] <= x[j] && x[j] <= kBox.upper()[j]) << x[j];
    for (const auto& x : r.population) EXPECT_TRUE(contains(p.seen, x));
    ASSERT_EQ(r.archive_positions.size(), r.archive_objectives.size());
    for (std::size_t k = 0; k < r.archive_positions.size(); ++k) {
        const auto& x = r.archive_positions[k];
        EXPECT_TRUE(contains(p.seen, x));
        EXPECT_EQ(r.archive_objectives[k], (std::vector<double>{outside(0, x), (x[0] - 2.0) * (x[0] - 2.0)}));
    }
    if (family == Family::ParetoArchive) {
        EXPECT_FALSE(r.best_value);
        EXPECT_TRUE(r.history.empty());
        EXPECT_LE(r.archive_positions.size(), s.at("archive_size").size);
        return;
    }
    EXPECT_EQ(r.history.size(), family == Family::Recorded ? t : 0);
    EXPECT_TRUE(family != Family::BestOnly || r.population.empty());
    ASSERT_TRUE(r.best_value && r.best_solution);
    EXPECT_TRUE(contains(p.seen, *r.best_solution));
    EXPECT_EQ(outside(0, *r.best_solution), *r.best_value);
    EXPECT_LE(*r.best_value, *std::min_element(p.values.begin(), p.values.begin() + s.count(0)));
    for (std::size_t k = 1; k < r.history.size(); ++k) EXPECT_LE(r.history[k], r.history[k - 1]);
    EXPECT_TRUE(r.history.empty() || r.history.back() == *r.best_value);
}

TEST(Contract, RunsKeepTheirRefusalsCountsBoxHistoryAndBest) {
    for (const ClassSpec* cls : classes(FitInput::Box)) {
        SCOPED_TRACE(cls->surface.name);
        const Expected& e = expected(*cls);
        const SizeLimit& least = cls->smallest;
        Fit small(*cls, least.minimum - 1, 2);
        Recorder p(3, outside), other(4, outside);
        const std::string no_box = std::string("Invalid input: ") + e.empty;
        EXPECT_EQ(refusal(small.run(other, 7, box({}, {}))), no_box);  // the box is checked first
        EXPECT_EQ(refusal(Fit(*cls, 6, 2).run(other)), "Dimension mismatch: Problem has 4 dimensions but bounds have 3");
        if (least.minimum) {
            EXPECT_EQ(refusal(small.run(p)), std::string("Invalid input: ") + least.refusal);
            EXPECT_EQ(small.count(), 0u);
        }
        EXPECT_TRUE(p.seen.empty() && other.seen.empty());
        for (U n : running_sizes(*cls)) {
            for (U t : {0, 5}) {
                SCOPED_TRACE("n=" + std::to_string(n) + " t=" + std::to_string(t));
                Fit s(*cls, n, t);
                Recorder p(3, outside), down(3, falling);
                if (n == 0) {  // nothing to evaluate (BeeColony still keeps one source), nothing to hand back
                    const RunResult r = result_of(s.run(p));
                    EXPECT_EQ(p.seen.size(), s.count());
                    EXPECT_TRUE(!p.seen.empty() || (r.population.empty() && r.archive_positions.empty()));
                    continue;
                }
                expect_contract(s, p, result_of(s.run(p)), t);
                // Every evaluation the best yet: a running minimum follows each one.
                const RunResult r = result_of(s.run(down));
                if (!e.running_min || !r.best_value) continue;
                EXPECT_EQ(*r.best_value, down.values.back());
                EXPECT_EQ(*r.best_solution, down.seen.back());
                if (!s.count()) continue;
                for (U k = 0; k < r.history.size(); ++k) EXPECT_EQ(r.history[k], down.values[s.count(k + 1) - 1]);
            }
        }
    }
}

TEST(Contract, ANaNNeverBeatsANumber) {
    for (const ClassSpec* cls : classes(FitInput::Box)) {
        SCOPED_TRACE(cls->surface.name);
        const Fit s(*cls, 6, 5);
        const U start = s.count(0);
        // Numbers at the start and NaN after: the first of the smallest start values stays.
        Recorder later(3, [start](std::size_t k, std::span<const double> x) { return k < start ? outside(k, x) : kNaN; });
        RunResult r = result_of(s.run(later));
        const Rows initial(later.seen.begin(), later.seen.begin() + start);
        for (const auto& x : r.archive_positions) EXPECT_TRUE(contains(initial, x));
        if (cls->surface.family == Family::ParetoArchive) continue;
        const auto best = std::min_element(later.values.begin(), later.values.begin() + start);
        EXPECT_EQ(*r.best_value, *best);
        EXPECT_EQ(*r.best_solution, later.seen[best - later.values.begin()]);
        for (double h : r.history) EXPECT_EQ(h, *best);
        // A NaN first value: the best and the history are numbers.
        Recorder first(3, [](std::size_t k, std::span<const double> x) { return k == 0 ? kNaN : outside(k, x); });
        r = result_of(s.run(first));
        EXPECT_FALSE(std::isnan(*r.best_value));
        for (double h : r.history) EXPECT_FALSE(std::isnan(h));
        // A NaN start: a number evaluated later takes over.
        Recorder all(3, [start](std::size_t k, std::span<const double> x) { return k < start ? kNaN : outside(k, x); });
        r = result_of(s.run(all));
        const bool taken = std::find(all.values.begin() + start, all.values.end(), *r.best_value) != all.values.end();
        EXPECT_TRUE(all.seen.size() == start || taken);
        // Ties, and NaN, everywhere keep the first candidate, or +infinity at the origin where the best starts there.
        for (double v : {3.0, kNaN}) {
            Recorder flat(3, [v](std::size_t, std::span<const double>) { return v; });
            r = result_of(s.run(flat));
            EXPECT_TRUE(v != v || *r.best_value == v);
            EXPECT_EQ(*r.best_solution, *r.best_value == kInf ? std::vector<double>(3, 0.0) : flat.seen.front());
        }
    }
}

TEST(Contract, SizesBeyondMemoryAreRefusedBeforeAnyEvaluation) {
    for (const ClassSpec& cls : registry()) {
        std::vector<std::string_view> sizes;
        if (Fit(cls, 6, 2).has_size()) sizes.push_back(cls.params[0].name);
        // A history is reserved up front; without one the iterations cost no memory.
        if (cls.surface.family == Family::Recorded) sizes.push_back("n_iterations");
        for (std::string_view name : sizes) {
            for (U huge : {U{1} << 41, U{1} << 62, UINT64_MAX}) {
                SCOPED_TRACE(std::string(cls.surface.name) + " " + std::string(name) + "=" + std::to_string(huge));
                Fit s(cls, 6, 2);
                s.at(name).size = huge;
                Recorder p(3, outside);
                CountingTour tour(kCities);
                EXPECT_THROW(s.run(cls.surface.input == FitInput::Box ? static_cast<Problem&>(p) : tour), std::bad_alloc);
                EXPECT_EQ(p.seen.size() + tour.evaluations, 0u);
            }
        }
    }
}

// Nothing to improve moves nothing, so some runs evaluate nothing for long stretches, and a large Pareto
// population sorts long within one iteration: a body that never looks for an interrupt ends such a run.
// An evaluation that aborts unwinds the run, and the next run repeats the first.
TEST(Contract, RunsStopWhenAskedUnwindWhenAbortedAndRepeat) {
    for (const ClassSpec* cls : classes(FitInput::Box)) {
        SCOPED_TRACE(cls->surface.name);
        const Expected& e = expected(*cls);
        const bool pareto = cls->surface.family == Family::ParetoArchive;  // an empty one ends its run at once
        std::vector<std::pair<U, U>> runs{{cls->smallest.minimum ? cls->smallest.minimum : pareto, U{1} << 19}};
        if (pareto) runs.emplace_back(2000, 1);
        for (auto [n, t] : runs) {
            Fit s(*cls, n, t);
            for (const char* name : e.quiet)
                if (name) s.at(name) = ParamValue{};
            if (t == 1) s.at("archive_size").size = n;
            Recorder p(3, [](std::size_t, std::span<const double>) { return 0.0; });
            p.objectives = [](std::size_t k) { return std::vector<double>{1.0 * k, -1.0 * k}; };
            p.stop_when_asked = true;
            EXPECT_THROW(s.run(p), EvaluationAborted) << "n=" << n;
        }
        const Fit s(*cls, 6, 5);
        Recorder first(3, outside), aborted(3, outside), again(3, outside), other(3, outside);
        const RunResult r = result_of(s.run(first));
        aborted.abort_at = s.count(0) + 2;
        ASSERT_GT(first.seen.size(), aborted.abort_at);
        EXPECT_THROW(s.run(aborted), EvaluationAborted);
        EXPECT_EQ(aborted.seen, Rows(first.seen.begin(), first.seen.begin() + aborted.abort_at));
        EXPECT_TRUE(fields(result_of(s.run(again))) == fields(r));
        EXPECT_EQ(again.seen, first.seen);
        result_of(s.run(other, 8));
        EXPECT_NE(other.seen, first.seen);
    }
}

// Tour runs give ranked permutations and their lengths, and stop at the check that asks them to.
TEST(Contract, TourRunsKeepTheirRefusalsCountsAndRankedPermutationsAndStopWhenAsked) {
    TourProblem lengths(kCities);
    for (const ClassSpec* cls : classes(FitInput::Tour)) {
        SCOPED_TRACE(cls->surface.name);
        const Expected& e = expected(*cls);
        const Fit s(*cls, 6, 5);
        CountingTour first(kCities), stopped(kCities), again(kCities);
        const RunResult r = result_of(s.run(first));
        stopped.stop_at_check = first.checks / 2;
        EXPECT_THROW(s.run(stopped), EvaluationAborted);
        EXPECT_EQ(stopped.checks, first.checks / 2);
        EXPECT_TRUE(fields(result_of(s.run(again))) == fields(r));
        CountingTour no_cities(DistanceMatrix{}), p(kCities);
        Recorder no_matrix(3, outside);  // a continuous problem: it has no distance matrix
        EXPECT_EQ(refusal(Fit(*cls, 6, 1).run(no_cities)), std::string("Invalid input: ") + e.empty);
        EXPECT_NE(refusal(Fit(*cls, 6, 1).run(no_matrix)), "(no refusal)");
        if (cls->smallest.minimum) {
            const Fit small(*cls, cls->smallest.minimum - 1, 1);
            EXPECT_EQ(refusal(small.run(p)), std::string("Invalid input: ") + cls->smallest.refusal);
            EXPECT_EQ(small.count(), 0u);
        }
        EXPECT_EQ(p.evaluations, 0u);
        for (U n : running_sizes(*cls)) {
            for (U t : {0, 5}) {
                SCOPED_TRACE("n=" + std::to_string(n) + " t=" + std::to_string(t));
                CountingTour run(kCities);
                const Fit s(*cls, n, t);
                const Outcome outcome = s.run(run);
                EXPECT_EQ(run.evaluations, s.count());
                // A run that walks no tour has none to report, and says so rather than pass for a fit.
                if (run.evaluations == 0) {
                    EXPECT_TRUE(refusal(outcome).starts_with("Convergence error: no ant completed a finite tour"))
                        << refusal(outcome);
                    continue;
                }
                const RunResult r = result_of(outcome);
                EXPECT_EQ(r.history.size(), cls->surface.family == Family::Recorded ? t : 0);
                for (std::size_t k = 1; k < r.history.size(); ++k) EXPECT_LE(r.history[k], r.history[k - 1]);
                ASSERT_TRUE(r.best_value);
                std::vector<double> cities = *r.best_solution;
                std::sort(cities.begin(), cities.end());
                EXPECT_EQ(cities, (std::vector<double>{0, 1, 2, 3, 4, 5, 6}));
                EXPECT_EQ(*r.best_value, lengths.evaluate(*r.best_solution));
                EXPECT_TRUE(r.history.empty() || *r.best_value <= r.history.back());
                EXPECT_TRUE(r.population.empty() || r.population.front() == *r.best_solution);
                for (std::size_t k = 1; k < r.population.size(); ++k)
                    EXPECT_LE(lengths.evaluate(r.population[k - 1]), lengths.evaluate(r.population[k]));
            }
        }
    }
}

}  // namespace
}  // namespace hivekit
