// Tour utilities: the closed length and the 2-opt search, checked against a
// plain copy-reverse-resum 2-opt on many random instances of every awkward kind.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numeric>
#include <random>
#include <thread>
#include <utility>
#include <vector>

#include "algorithms/tour.hpp"
#include "plain_two_opt.hpp"
#include "tour_fixtures.hpp"
#include "core/error.hpp"
#include "core/threads.hpp"

namespace {

using hivekit::closed_tour_length;
using hivekit::DistanceMatrix;
using hivekit::TwoOptBatch;
using hivekit::TwoOptSearch;
using hivekit::test_support::nearest_neighbour_tour;
using hivekit::test_support::plain_two_opt;
using hivekit::test_support::Tour;
using tour_fixtures::euclidean;

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

DistanceMatrix matrix_of(const std::vector<std::vector<double>>& rows) {
    std::vector<double> flat;
    for (const auto& r : rows) flat.insert(flat.end(), r.begin(), r.end());
    return DistanceMatrix(rows.size(), std::move(flat));
}

std::pair<Tour, double> run_two_opt(Tour tour, const DistanceMatrix& d,
                                    TwoOptSearch::Method method = TwoOptSearch::Method::Automatic) {
    TwoOptSearch search(d, {}, method);
    double length = search.improve(tour);
    return {tour, length};
}

// Random instances of the kinds the search must get exactly right.
enum class Kind {
    Euclidean,      // symmetric, distinct lengths
    Asymmetric,     // independent entries in both directions
    Negative,       // entries of both signs
    SmallIntegers,  // many exact ties
    NearTies,       // integer lengths nudged by multiples of 1e-13: the 1e-12 rule decides
    LargeOffset,    // 1e6 plus tiny differences: rounding of the sums decides
    Tiny,           // subnormal scale
    Huge,           // sums that overflow
    NonFinite,      // NaN and infinite entries sprinkled in
    MostlyZero,     // zeros with a few ones
    Rounded,        // whole-number Euclidean lengths: exact sums, many equal gains
    OneToFour,      // whole numbers 1..4: ties everywhere
    NearTrillion,   // 1e12 plus a spread of 1e-3: rounding of the sums decides
    TrillionTies,   // 1e12 plus 0 .. 4 thousandths: equal changes that only rounding tells apart
};

const Kind kAllKinds[] = {Kind::Euclidean, Kind::Asymmetric, Kind::Negative,  Kind::SmallIntegers, Kind::NearTies,
                          Kind::LargeOffset, Kind::Tiny,     Kind::Huge,      Kind::NonFinite,     Kind::MostlyZero,
                          Kind::Rounded,   Kind::OneToFour,  Kind::NearTrillion, Kind::TrillionTies};

DistanceMatrix random_matrix(Kind kind, std::size_t n, std::mt19937_64& gen) {
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::uniform_int_distribution<int> small(0, 4);
    std::uniform_int_distribution<int> nudge(-30, 30);
    std::vector<std::pair<double, double>> points(n);
    for (auto& p : points) p = {unit(gen), unit(gen)};
    DistanceMatrix plane = euclidean(points);
    std::vector<double> flat(n * n);
    for (std::size_t a = 0; a < n; ++a) {
        for (std::size_t b = 0; b < n; ++b) {
            double& x = flat[a * n + b];
            switch (kind) {
                case Kind::Euclidean: x = plane(a, b); break;
                case Kind::Asymmetric: x = unit(gen); break;
                case Kind::Negative: x = unit(gen) * 2.0 - 1.0; break;
                case Kind::SmallIntegers: x = small(gen); break;
                case Kind::NearTies: x = small(gen) + nudge(gen) * 1e-13; break;
                case Kind::LargeOffset: x = 1e6 + unit(gen) * 1e-9; break;
                case Kind::Tiny: x = unit(gen) * 1e-310; break;
                case Kind::Huge: x = unit(gen) * 1e307; break;
                case Kind::NonFinite: {
                    double r = unit(gen);
                    x = r < 0.04 ? kNaN : r < 0.08 ? kInf : r < 0.1 ? -kInf : unit(gen);
                    break;
                }
                case Kind::MostlyZero: x = unit(gen) < 0.8 ? 0.0 : 1.0; break;
                case Kind::Rounded: x = std::floor(100.0 * plane(a, b) + 0.5); break;
                case Kind::OneToFour: x = 1 + small(gen) % 4; break;
                case Kind::NearTrillion: x = 1e12 + 0.001 * plane(a, b); break;
                case Kind::TrillionTies: x = 1e12 + 0.001 * small(gen); break;
            }
        }
    }
    // Half of the other kinds are made exactly symmetric, and every tie kind.
    if (kind != Kind::Asymmetric && (kind == Kind::TrillionTies || unit(gen) < 0.5))
        for (std::size_t a = 0; a < n; ++a)
            for (std::size_t b = 0; b < a; ++b) flat[b * n + a] = flat[a * n + b];
    return DistanceMatrix(n, std::move(flat));
}

Tour identity(std::size_t n) {
    Tour tour(n);
    std::iota(tour.begin(), tour.end(), std::size_t{0});
    return tour;
}

Tour shuffled(std::size_t n, std::mt19937_64& gen) {
    Tour tour = identity(n);
    std::shuffle(tour.begin(), tour.end(), gen);
    return tour;
}

// A permutation, a tour with repeated cities, a tour shorter than the matrix
// or one longer than it.
Tour random_tour(std::size_t n, std::mt19937_64& gen) {
    std::uniform_int_distribution<std::size_t> city(0, n - 1);
    Tour tour = shuffled(n, gen);
    switch (gen() % 4) {
        case 0: break;
        case 1: for (auto& c : tour) if (gen() % 3 == 0) c = city(gen); break;
        case 2: tour.resize(std::max<std::size_t>(1, tour.size() - 1 - gen() % (n / 2 + 1))); break;
        case 3: for (std::size_t extra = gen() % (n + 1) + 1; extra > 0; --extra) tour.push_back(city(gen)); break;
    }
    return tour;
}

// The same tour and the same bits of its length.
testing::AssertionResult same(const std::pair<Tour, double>& a, const std::pair<Tour, double>& b) {
    if (a.first == b.first && std::bit_cast<std::uint64_t>(a.second) == std::bit_cast<std::uint64_t>(b.second))
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << testing::PrintToString(a) << " vs " << testing::PrintToString(b);
}

TEST(ClosedTourLength, AddsEdgesFromRowToColumnInPositionOrderFromZero) {
    // From the start, 1e16 + 1 rounds back to 1e16 before -1e16 is added.
    DistanceMatrix d = matrix_of({{0, 1e16, 7}, {7, 0, 1}, {-1e16, 7, 0}});
    EXPECT_EQ(closed_tour_length(Tour{0, 1, 2}, d), 0.0);
    EXPECT_EQ(closed_tour_length(Tour{2, 0, 1}, d), 1.0);
    EXPECT_EQ(closed_tour_length(Tour{0, 2, 1}, d), 7.0 + 7.0 + 7.0);
}

// The small worked cases (an empty, one-city, three-city tour, the unit square,
// an entry beyond the matrix) are checked through two_opt from Python; the
// rule that a move must gain more than 1e-12, by the near ties of the random
// instances (a threshold of 0, 1e-13 or 1e-11 fails both comparisons).

// One search serves tours of several lengths in turn.
TEST(TwoOpt, MatchesThePlainProcedureBitForBitOnRandomInstances) {
    std::mt19937_64 gen(20240601);
    int compared = 0;
    for (Kind kind : kAllKinds) {
        for (int rep = 0; rep < 60; ++rep) {
            const std::size_t n = 1 + gen() % 18;
            DistanceMatrix d = random_matrix(kind, n, gen);
            TwoOptSearch search(d);
            for (int tour = 0; tour < 2; ++tour, ++compared) {
                Tour fast = random_tour(n, gen);
                const auto plain = plain_two_opt(fast, d);
                const double length = search.improve(fast);
                ASSERT_TRUE(same({fast, length}, plain)) << "kind " << static_cast<int>(kind) << " rep " << rep;
            }
        }
    }
    EXPECT_EQ(compared, 2 * 60 * static_cast<int>(std::size(kAllKinds)));
}

// Instances larger than a neighbour list, so that rows and far ends whose
// lists fall short take their fall-backs and the rows remembered clean across
// moves are judged again after many moves of every length: the search with the
// lists (and the exact integer test) against the plain procedure where it is
// quick enough and against the full scan beyond.
TEST(TwoOpt, NeighbourListsFindTheMovesOfTheFullScanOnLargerInstances) {
    std::mt19937_64 gen(7);
    for (Kind kind : kAllKinds) {
        for (std::size_t n : {40, 110, 300}) {
            DistanceMatrix d = random_matrix(kind, n, gen);
            for (const Tour& start : {shuffled(n, gen), nearest_neighbour_tour(d, gen() % n), random_tour(n, gen)}) {
                auto oracle = n <= 40 ? plain_two_opt(start, d) : run_two_opt(start, d, TwoOptSearch::Method::FullScan);
                ASSERT_TRUE(same(run_two_opt(start, d), oracle)) << "kind " << static_cast<int>(kind) << " n " << n;
            }
        }
    }
}

// A move that only rounding makes shorter, near the bounds that let the search
// skip a candidate without its exact sum. Tour 0, 1, ..., m-1 starts with the
// edges 0 and X = 2^p, then k = m-4 edges e a little above half a unit in the
// last place of X, each rounded up in the tour's position-order sum. Reversing
// positions 1 .. m-2 trades the zero edges 0-1 and (m-2)-(m-1) for two edges
// of 38 units of 2^(p-53) each: the candidate is longer by 76 such units, yet
// its sum adds the e first and X last and so loses the k roundings, about 96
// units: the plain procedure takes it. The computed change is positive, about
// a thirteenth of what the bound allows (the bound counts five times the
// tour's magnitude, m-fold, and twice the error it covers), so a bound that
// forgot the m-fold growth of the rounding error or the tour's own magnitude,
// in the scan, in the exact test after the lists or in the lists' margin,
// rejects the move and ends elsewhere. (Tightenings by a small factor keep a
// sound bound, which no tour can tell from the present one.) Every
// other entry is 2X, so no other move gains. Through the neighbour lists, the
// full scan, and the scan of a matrix with one unused pair made unequal.
TEST(TwoOpt, TakesAMoveThatOnlyRoundingShortens) {
    const std::size_t m = 100, k = m - 4;
    for (int p : {30, 40}) {
        const double x = std::ldexp(1.0, p), unit = std::ldexp(1.0, p - 53);
        for (int variant = 0; variant < 3; ++variant) {
            std::vector<std::vector<double>> rows(m, std::vector<double>(m, 2 * x));
            const auto edge = [&rows](std::size_t a, std::size_t b, double v) { rows[a][b] = rows[b][a] = v; };
            for (std::size_t c = 0; c < m; ++c) rows[c][c] = 0.0;
            edge(0, 1, 0.0);
            edge(1, 2, x);
            for (std::size_t c = 2; c < m - 2; ++c) edge(c, c + 1, unit + std::ldexp(1.0, p - 60));
            edge(m - 2, m - 1, 0.0);
            edge(m - 1, 0, 0.0);
            edge(0, m - 2, 38 * unit);
            edge(1, m - 1, 38 * unit);
            if (variant == 2) rows[5][40] = 3 * x;
            const DistanceMatrix d = matrix_of(rows);
            // The move's four end edges, as the search computes their change.
            const double change = (rows[0][m - 2] + rows[1][m - 1]) - (rows[0][1] + rows[m - 2][m - 1]);
            ASSERT_GT(change, 0.0);
            ASSERT_GT(static_cast<double>(k) * unit - change, 10 * unit);

            const Tour start = identity(m);
            auto plain = plain_two_opt(start, d);
            ASSERT_NE(plain.first, start) << "p " << p;
            auto fast = run_two_opt(start, d, variant == 1 ? TwoOptSearch::Method::FullScan
                                                           : TwoOptSearch::Method::Automatic);
            EXPECT_TRUE(same(fast, plain)) << "p " << p << " variant " << variant;
        }
    }
}

TEST(TwoOpt, AsksToBeInterruptedDuringALongSearch) {
    std::mt19937_64 gen(5);
    DistanceMatrix d = random_matrix(Kind::Euclidean, 300, gen);
    Tour tour = shuffled(300, gen);
    int checks = 0;
    TwoOptSearch counting(d, [&checks] { ++checks; });
    Tour copy = tour;
    counting.improve(copy);
    EXPECT_GT(checks, 10);

    auto stop = [] { throw hivekit::EvaluationAborted(); };
    EXPECT_THROW(TwoOptSearch(d, stop).improve(tour), hivekit::EvaluationAborted);
}

// The engine's thread count for one test, set back to one afterwards.
class EngineThreads {
public:
    explicit EngineThreads(std::size_t n) { hivekit::threads::set_count(n); }
    ~EngineThreads() { hivekit::threads::set_count(1); }
};

TEST(TwoOptBatch, LeavesEveryTourAsItsOwnSearchDoesOnAnyNumberOfThreads) {
    std::mt19937_64 gen(8);
    for (Kind kind : kAllKinds) {
        DistanceMatrix d = random_matrix(kind, 24, gen);
        tour_fixtures::CountingTour problem{DistanceMatrix(d)};
        const std::size_t count = 9;
        std::vector<Tour> rows;
        Tour flat;
        for (std::size_t k = 0; k < count; ++k) {
            Tour tour = random_tour(24, gen);
            tour.resize(24, 0);  // one length for the whole batch
            rows.push_back(tour);
            flat.insert(flat.end(), tour.begin(), tour.end());
        }
        for (std::size_t threads : {1, 2, 3}) {
            EngineThreads set(threads);
            Tour tours = flat;
            std::vector<double> lengths(count);
            TwoOptBatch batch(d, problem, count);
            batch.improve(tours, count, lengths);
            for (std::size_t k = 0; k < count; ++k) {
                const Tour row(tours.begin() + static_cast<std::ptrdiff_t>(k * 24),
                               tours.begin() + static_cast<std::ptrdiff_t>((k + 1) * 24));
                ASSERT_TRUE(same({row, lengths[k]}, run_two_opt(rows[k], d))) << "tour " << k;
            }
        }
    }
}

// The first tour is already as short as 2-opt makes it, the second a random
// permutation that takes a while: the caller usually ends its own tour at
// once and must then keep asking while the other thread searches.
TEST(TwoOptBatch, OnlyTheCallerAsksForInterruptsAndKeepsAskingWhileOthersSearch) {
    EngineThreads set(2);
    std::mt19937_64 gen(6);
    DistanceMatrix d = random_matrix(Kind::Euclidean, 400, gen);
    const Tour slow = shuffled(400, gen);
    Tour tours = run_two_opt(identity(400), d).first;
    tours.insert(tours.end(), slow.begin(), slow.end());

    class Recorder : public tour_fixtures::CountingTour {
    public:
        using CountingTour::CountingTour;
        void check_interrupt() override {
            if (std::this_thread::get_id() != caller) elsewhere = true;
            CountingTour::check_interrupt();
        }
        std::thread::id caller = std::this_thread::get_id();
        bool elsewhere = false;
    };
    Recorder problem{DistanceMatrix(d)};
    Tour copy = tours;
    TwoOptBatch(d, problem, 2).improve(copy, 2);
    EXPECT_FALSE(problem.elsewhere);
    EXPECT_GT(problem.checks, 10u);

    // Stopped early, the batch ends with the caller's exception.
    Recorder stopped{DistanceMatrix(d)};
    stopped.stop_at_check = 5;
    EXPECT_THROW(TwoOptBatch(d, stopped, 2).improve(tours, 2), hivekit::EvaluationAborted);
    EXPECT_EQ(stopped.checks, 5u);
    EXPECT_FALSE(stopped.elsewhere);
}

}  // namespace
