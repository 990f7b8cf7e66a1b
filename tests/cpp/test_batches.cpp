// Candidates handed over in batches: every box class runs as it does one
// evaluation at a time, whatever order a problem evaluates a batch's rows in,
// the batches have the sizes their bodies promise, and the bodies that
// evaluate in waves match their trials one at a time bit for bit.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <numeric>
#include <stdexcept>
#include <string>
#include <vector>

#include "algorithms/differential_evolution.hpp"
#include "plain_waves.hpp"
#include "recorder.hpp"

namespace hivekit {
namespace {

using namespace hivekit::test_support;
using U = std::uint64_t;

const Bounds kBox = box({-1, 0.5, -2}, {1, 2, 2});

// A value of the position alone: a bowl rounded to eighths, so that ties
// happen, with NaN and +infinity at scattered positions.
double by_position(std::size_t, std::span<const double> x) {
    std::uint64_t h = 0;
    for (double v : x) h = (h ^ std::bit_cast<std::uint64_t>(v)) * 0x9E3779B97F4A7C15u;
    h ^= h >> 31;
    if (h % 11 == 0) return kNaN;
    if (h % 13 == 0) return kInf;
    double s = 0.0;
    for (double v : x) s += (v - 0.3) * (v - 0.3);
    return std::round(s * 8.0) / 8.0;
}

// Evaluates a batch's rows together, last to first.
Recorder batched() {
    Recorder p(3, by_position);
    p.together = true;
    return p;
}

const ClassSpec& named(std::string_view name) {
    for (const ClassSpec& cls : registry())
        if (cls.surface.name == name) return cls;
    throw std::logic_error("no class " + std::string(name));
}

// Every number of the rows bit for bit, with the length of each; sorted, the
// positions asked about whatever the order they came in.
using Words = std::vector<std::uint64_t>;
std::vector<Words> bits_of(const Rows& rows, bool sort = false) {
    std::vector<Words> out;
    for (const auto& x : rows) {
        out.push_back({x.size()});
        for (double v : x) out.back().push_back(std::bit_cast<std::uint64_t>(v));
    }
    if (sort) std::sort(out.begin(), out.end());
    return out;
}
void expect_same_run(const RunResult& a, const RunResult& b) {
    const auto head = [](const RunResult& r) {
        return bits_of({r.best_value ? std::vector{*r.best_value} : std::vector<double>{},
                        r.best_solution.value_or(std::vector<double>{}), r.history});
    };
    EXPECT_EQ(head(a), head(b));
    EXPECT_EQ(bits_of(a.population), bits_of(b.population));
    EXPECT_EQ(bits_of(a.archive_positions), bits_of(b.archive_positions));
    EXPECT_EQ(bits_of(a.archive_objectives), bits_of(b.archive_objectives));
}

TEST(Batches, EveryBoxClassRunsAsOneEvaluationAtATimeWhateverOrderABatchIsEvaluatedIn) {
    for (const ClassSpec& cls : registry()) {
        if (cls.surface.input != FitInput::Box) continue;
        SCOPED_TRACE(cls.surface.name);
        for (U n : {6, 13}) {
            const Fit s(cls, n, 4);
            for (Seed seed : {Seed{1}, Seed{2}, Seed{3}}) {
                Recorder plain(3, by_position), together = batched();
                expect_same_run(result_of(s.run(plain, seed, kBox)), result_of(s.run(together, seed, kBox)));
                // Only the waves of differential evolution reorder the calls, and
                // only for a problem that evaluates a batch together.
                const bool waves = cls.surface.name == std::string_view("DifferentialEvolution");
                EXPECT_EQ(bits_of(together.seen, waves), bits_of(plain.seen, waves));
            }
        }
    }
}

std::vector<long> events_of(const Fit& s) {
    Recorder p = batched();
    result_of(s.run(p, 5, kBox));
    return p.events;
}
std::vector<long> events_of(std::string_view name, U n, U t) { return events_of(Fit(named(name), n, t)); }

std::vector<long> repeat(std::vector<long> head, std::vector<long> each, U times) {
    for (U k = 0; k < times; ++k) head.insert(head.end(), each.begin(), each.end());
    return head;
}

TEST(Batches, WholeSwarmsAndGenerationsAreOneBatch) {
    EXPECT_EQ(events_of("GreyWolfOptimizer", 5, 3), repeat({5}, {5}, 3));
    EXPECT_EQ(events_of("CmaEsOptimizer", 6, 3), repeat({0}, {6}, 3));  // the centre comes first, alone
    // The flights of every nest, behind the ceil(0.25 * 7) = 2 nests the
    // iteration before rebuilt; the last iteration's rebuilt nests alone.
    EXPECT_EQ(events_of("CuckooSearch", 7, 3), (std::vector<long>{7, 7, 9, 9, 2}));
    EXPECT_EQ(events_of("MopsoOptimizer", 5, 3), repeat({5}, {5}, 3));
    EXPECT_EQ(events_of("Nsga2Optimizer", 5, 3), repeat({5}, {5}, 3));
    // Each chemotactic step, then the newcomers: none, or every bacterium.
    for (double elimination : {0.0, 1.0}) {
        Fit s(named("BacterialForagingOptimizer"), 5, 2);
        s.at("n_chemotactic_steps").size = 2;
        s.at("elimination_probability").real = elimination;
        EXPECT_EQ(events_of(s), repeat({5}, elimination ? std::vector<long>{5, 5, 5} : std::vector<long>{5, 5}, 2));
    }
    // A best or an acceptance read by the next candidate: the start alone is a batch.
    for (const char* name : {"ParticleSwarm", "BinaryParticleSwarm", "BatAlgorithm"})
        EXPECT_EQ(events_of(name, 5, 3), repeat({5}, {0}, 15)) << name;
    EXPECT_EQ(events_of("SimulatedAnnealing", 5, 3), repeat({1}, {0}, 3));
}

// Differential evolution: a generation's trials in waves, together once the
// partners below them are settled; the bee colony's trials and the worms'
// moves in runs, until one reads a row whose candidate waits.
TEST(Batches, WavesCoverEveryCandidateOnceAndBatchSeveral) {
    const std::vector<long> de = events_of("DifferentialEvolution", 40, 5);
    ASSERT_EQ(de.front(), 40);
    const long rows = std::accumulate(de.begin(), de.end(), 0L);
    EXPECT_EQ(rows, 40 * 6);
    EXPECT_EQ(std::count(de.begin(), de.end(), 0L), 0);  // no trial alone outside a wave
    // About seven waves a generation: far fewer than one per trial, more than one.
    EXPECT_LT(de.size() - 1, 5u * 12);
    EXPECT_GT(de.size() - 1, 5u * 2);
    for (const char* name : {"BeeColony", "GlowwormOptimizer"}) {
        const std::vector<long> events = events_of(name, 40, 5);
        EXPECT_EQ(std::count(events.begin(), events.end(), 0L), 0) << name;
        EXPECT_GT(*std::max_element(events.begin() + 1, events.end()), 1) << name;
    }
}

// Where a batch is evaluated row by row, differential evolution hands over
// each trial alone, in index order, so its waves must change nothing but the
// order. The bee colony's trials and the worms' moves keep the order of their
// one-at-a-time forms, so values may also depend on the call number.
TEST(Batches, WavesMatchOneCandidateAtATime) {
    const auto value = [](std::size_t k, std::span<const double> x) {
        return k % 17 == 5 ? kNaN : k % 19 == 7 ? kInf : by_position(k, x);
    };
    for (Seed seed : {Seed{1}, Seed{2}, Seed{3}, Seed{4}}) {
        for (U n : {4, 9, 40}) {
            for (double cr : {0.0, 0.5, 0.9, 1.5}) {
                SCOPED_TRACE("n=" + std::to_string(n) + " cr=" + std::to_string(cr));
                const DifferentialEvolutionParams params{n, 6, 0.8, cr};
                Recorder plain(3, by_position), waves = batched();
                expect_same_run(result_of(run_differential_evolution(plain, kBox, params, seed)),
                                result_of(run_differential_evolution(waves, kBox, params, seed)));
                EXPECT_EQ(bits_of(waves.seen, true), bits_of(plain.seen, true));
            }
            // Trials alone come in index order: with only the forced coordinate
            // crossed and every trial worse than the start, call k of a
            // generation is start row k with one coordinate changed.
            Recorder alone(3, [n](std::size_t k, std::span<const double>) { return k < n ? 0.0 : 1.0; });
            result_of(run_differential_evolution(alone, kBox, {n, 3, 0.8, 0.0}, seed));
            ASSERT_EQ(alone.seen.size(), 4 * n);
            for (std::size_t k = n; k < alone.seen.size(); ++k) {
                const std::vector<double>&parent = alone.seen[k % n], &trial = alone.seen[k];
                EXPECT_GE(std::inner_product(parent.begin(), parent.end(), trial.begin(), 0, std::plus<>(),
                                             std::equal_to<>()),
                          2)
                    << "call " << k;
            }
            for (U limit : {0, 2, 100}) {
                SCOPED_TRACE("bees n=" + std::to_string(n) + " limit=" + std::to_string(limit));
                const BeeColonyParams params{n, 6, limit};
                Recorder plain(3, value), waves(3, value);
                expect_same_run(result_of(plain_bee_colony(plain, kBox, params, seed)),
                                result_of(run_bee_colony(waves, kBox, params, seed)));
                EXPECT_EQ(bits_of(waves.seen), bits_of(plain.seen));
            }
            for (double radius : {0.5, 3.0, 100.0}) {
                SCOPED_TRACE("worms n=" + std::to_string(n) + " radius=" + std::to_string(radius));
                GlowwormParams params;
                params.n_worms = n;
                params.n_iterations = 8;
                params.neighborhood_radius = radius;
                Recorder plain(3, value), waves(3, value);
                expect_same_run(result_of(plain_glowworm(plain, kBox, params, seed)),
                                result_of(run_glowworm(waves, kBox, params, seed)));
                EXPECT_EQ(bits_of(waves.seen), bits_of(plain.seen));
            }
        }
    }
}

}  // namespace
}  // namespace hivekit
