// Closed tours over a distance matrix: their length and the 2-opt local search.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "core/distance_matrix.hpp"
#include "core/problem.hpp"
#include "core/threads.hpp"

namespace hivekit {

// D[t0][t1] + D[t1][t2] + ... + D[t(m-1)][t0], added in exactly this order
// starting from 0.0 (D[t0][t0] for one city, 0.0 for none). Every entry must
// be below the number of cities.
double closed_tour_length(std::span<const std::size_t> tour, const DistanceMatrix& d);

// Position of the first entry that is not below `n_cities`, if any.
std::optional<std::size_t> first_entry_out_of_range(std::span<const std::size_t> tour, std::size_t n_cities);

// First-improvement 2-opt with a full restart after every accepted move.
//
// The result, tour and length to the bit, is that of the plain procedure:
// for i = 1 .. m-3 and j = i+2 .. m, reverse positions i .. j-1 of a copy,
// measure the copy's closed length Lc from scratch in position order, take it
// when Lc + 1e-12 < L and start again from i = 1. What makes it fast is how a
// candidate is measured: the change of the four edges at the ends of the
// segment (and, for asymmetric matrices, of the segment's own edges read
// backwards) together with a rigorous bound on the rounding error of both
// position-order sums decides most candidates without summing anything; only
// a candidate that might pass the test is summed exactly, reading the
// reversed segment through its indices and starting from the cached partial
// sum of the unchanged prefix.
//
// On a matrix that reads the same both ways with finite entries, a tour that
// visits every city once is searched through per-city lists of the nearest
// cities: a row examines only the few candidates whose new edges can be short
// enough to gain, in the same order and with the same test. On a matrix of
// whole numbers whose tour lengths stay exact, the change of the four edges
// decides a candidate alone.
//
// Reuse one search for many tours over the same matrix to keep its buffers
// and its neighbour lists (built on first use).
class TwoOptSearch {
public:
    enum class Method {
        Automatic,  // the neighbour lists and the exact integer test where they apply
        FullScan,   // every candidate of every row, whatever the matrix
    };

    // `check_interrupt` is called about every millisecond of the search's
    // work; it may throw to stop the search (the tour is then left in some
    // intermediate state).
    explicit TwoOptSearch(const DistanceMatrix& d, std::function<void()> check_interrupt = {},
                          Method method = Method::Automatic);

    // Improves `tour` in place and returns its closed length. The tour need not
    // be a permutation nor have one entry per city, but every entry must be
    // below the number of cities (see first_entry_out_of_range).
    double improve(std::span<std::size_t> tour);

private:
    // One pass of the scan; true when it took a move (the tour and `length`
    // are then updated and the scan must start again).
    template <bool Symmetric>
    bool scan(std::span<std::size_t> tour, double& length);
    // The whole search through the neighbour lists; `Integral` when every sum is exact.
    template <bool Integral>
    void list_search(std::span<std::size_t> tour, double& length);
    // Whether the candidate (i, j) of the current tour is taken; if so,
    // `taken_length` is its length. A rejection stands for as long as the four
    // end cities stay where they are (and, with rounding, the tour's
    // magnitudes do not grow), except one made by the exact sum alone, which
    // other moves may change: that far end goes to fragile_[i].
    template <bool Integral>
    bool decide(std::size_t i, std::size_t j, double& taken_length);
    // The candidates of row i that may pass with far ends in lo .. hi, and the
    // row's fragile ones outside it, in ascending j; the first taken one's j,
    // or 0. Fragile rejections go to fragile_[i].
    template <bool Integral>
    std::size_t scan_row(std::size_t i, std::size_t lo, std::size_t hi, double& taken_length);
    // After the move that reversed positions h .. j-1: the first candidate
    // taken among rows 1 .. h-1 whose far end j' lies in h .. j or that was
    // fragile, as (row, far end), or row 0.
    template <bool Integral>
    std::pair<std::size_t, std::size_t> rescan_before(std::size_t h, std::size_t j, double& taken_length);
    // The same, gathering every row's candidates far end by far end.
    template <bool Integral>
    std::pair<std::size_t, std::size_t> rescan_columns(std::size_t h, std::size_t j, double& taken_length);
    // Reverses positions i .. j-1 and measures the new tour; with i >= j,
    // takes the tour as improve() measured it.
    template <bool Integral>
    void apply(std::span<std::size_t> tour, std::size_t i, std::size_t j);
    // Whether the lists serve this tour: a permutation of every city.
    bool visits_every_city_once(std::span<const std::size_t> tour);
    void build_neighbours();
    // Whether every city closer to `city` than `radius` is in its list.
    bool list_covers(std::size_t city, double radius) const;
    // How near a city must be to gain against the edge at position k: its
    // length plus the margin.
    double edge_radius(std::size_t k) const;
    // Edge arrays, partial sums and magnitudes of the current tour.
    void measure(std::span<const std::size_t> tour);
    // weight_, base_ and pass_bound_ for a tour of m cities with the current
    // magnitudes (see scan).
    void set_bounds(std::size_t m);
    // Whether those bounds show that a candidate whose four end edges change
    // by `change` cannot pass the exact test.
    bool bounds_reject(double change, double added_first, double added_last, double removed_first,
                       double removed_last) const;
    // Exact closed length of the tour with positions i .. j-1 reversed.
    double reversed_length(std::span<const std::size_t> tour, std::size_t i, std::size_t j);
    // prefix_[k], summing the edges it still lacks.
    double prefix(std::size_t k);
    static double magnitude_of(std::span<const double> edges);
    void forget_row(std::size_t i);

    const DistanceMatrix& d_;
    // Calls check_interrupt about every millisecond of work.
    WorkMeter meter_;
    Method method_;
    // Largest magnitude of a finite entry, and whether D[a][b] and D[b][a]
    // have the same bits everywhere (a segment then reads the same both ways).
    double largest_entry_ = 0.0;
    bool symmetric_ = true;
    bool finite_ = true;    // no NaN or infinite entry
    bool integral_ = true;  // every entry a whole number
    // The nearest `list_size_` cities of every city, row by row, nearest
    // first (ties by index), with their distances; and the other way round,
    // for every city y the cities whose lists hold y:
    // reverse_[reverse_start_[y] .. reverse_start_[y+1]) with D[x][y].
    std::size_t list_size_ = 0;
    std::vector<std::uint32_t> near_, reverse_;
    std::vector<double> near_distance_, reverse_distance_;
    // The distance of every city's last listed one (infinite when it lists all).
    std::vector<double> reach_;
    std::vector<std::size_t> reverse_start_;
    // Bounds of the current tour (see decide and list_search).
    double weight_ = 0.0, margin_ = 0.0, base_ = 0.0, pass_bound_ = 0.0;
    // Position of every city in the current tour (when it visits each once)
    // and the candidates of one row.
    std::vector<std::size_t> position_, row_candidates_;
    // Far ends j whose list cannot say which rows are near enough, ascending,
    // and rows whose own list cannot say.
    struct FarEnd {
        std::size_t j, city;  // position j and the city there
        double radius;        // b + margin
    };
    std::vector<FarEnd> unlisted_, new_unlisted_;
    std::vector<std::size_t> long_rows_, new_long_rows_;
    std::vector<std::pair<std::size_t, std::size_t>> pairs_;
    // Rows known to hold no candidate that passes, and for each row the far
    // ends its exact sums rejected (they may pass after other moves).
    std::vector<char> clean_;
    std::vector<std::vector<std::size_t>> fragile_;
    std::size_t fragile_count_ = 0;
    // The current tour followed by its first city again.
    std::vector<std::size_t> ring_;
    // forward_[k] = D[t_k][t_(k+1) mod m]; backward_[k] = D[t_(k+1) mod m][t_k];
    // prefix_[k] = the first k forward edges added in order from 0.0.
    // Only prefix_[0 .. prefix_valid_] is up to date.
    std::vector<double> forward_, backward_, prefix_;
    std::size_t prefix_valid_ = 0;
    // The list search's current tour length, as its position-order sum gives it.
    double length_ = 0.0;
    double forward_magnitude_ = 0.0;   // sum of |forward_[k]|
    double backward_magnitude_ = 0.0;  // sum of |backward_[k]|
};

// 2-opt of many tours over one matrix, the tours spread over the engine's
// threads with one search per thread. Each tour comes out exactly as a search
// of its own would leave it: what improve() returns depends on its tour and
// the matrix alone, never on the tours a search looked at before, so which
// thread takes which tour changes nothing.
//
// Only the calling thread asks the problem about interrupts (its check may
// need the interpreter); the other threads stop at their next look once that
// check has thrown. While the last tours are searched elsewhere, the caller
// keeps looking about every millisecond, so a stop is seen during a long
// search on another thread too.
class TwoOptBatch {
public:
    // At most `max_tours` tours are handed over at once; the threads are
    // those the engine has when the batch is made.
    TwoOptBatch(const DistanceMatrix& d, Problem& problem, std::size_t max_tours);

    // Improves the `count` tours laid out one after another in `tours`, each
    // tours.size() / count cities long, and writes tour k's closed length to
    // lengths[k] when `lengths` is not empty.
    void improve(std::span<std::size_t> tours, std::size_t count, std::span<double> lengths = {});

private:
    // The search of the team's thread `slot`, made on that thread's first tour.
    TwoOptSearch& search(std::size_t slot);
    // The caller's look for an interrupt; a throw also stops the other threads.
    void check_caller();

    const DistanceMatrix& d_;
    Problem& problem_;
    threads::Team team_;
    std::vector<std::unique_ptr<TwoOptSearch>> searches_;
    // One call of improve(): the next tour to take, the tours finished, and
    // whether the call is being abandoned (an interrupt or a failure).
    std::atomic<std::size_t> next_{0};
    std::atomic<bool> stop_{false};
    std::size_t done_ = 0;  // under mutex_
    std::mutex mutex_;
    std::condition_variable progress_;
};

}  // namespace hivekit
