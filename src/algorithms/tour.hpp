// Closed tours over a distance matrix: their length and the 2-opt local search.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "core/distance_matrix.hpp"

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

    // `check_interrupt` is called every few tens of thousands of candidate
    // evaluations; it may throw to stop the search (the tour is then left in
    // some intermediate state).
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
    // The same pass over the candidates the neighbour lists leave; `Integral`
    // when every sum is exact.
    template <bool Integral>
    bool pruned_scan(std::span<std::size_t> tour, double& length);
    // Whether the lists serve this tour: a permutation of every city.
    bool visits_every_city_once(std::span<const std::size_t> tour);
    void build_neighbours();
    // Whether every city closer to `city` than `radius` is in its list.
    bool list_covers(std::size_t city, double radius) const;
    // Rows of the candidates found from the far end of the move (see pruned_scan).
    void collect_far_candidates(std::size_t m, double margin, bool integral);
    // Edge arrays, partial sums and magnitudes of the current tour.
    void measure(std::span<const std::size_t> tour);
    // Exact closed length of the tour with positions i .. j-1 reversed.
    double reversed_length(std::span<const std::size_t> tour, std::size_t i, std::size_t j) const;
    void spend(std::size_t units);

    const DistanceMatrix& d_;
    std::function<void()> check_interrupt_;
    Method method_;
    std::size_t work_ = 0;
    // Largest magnitude of a finite entry, and whether D[a][b] and D[b][a]
    // have the same bits everywhere (a segment then reads the same both ways).
    double largest_entry_ = 0.0;
    bool symmetric_ = true;
    bool finite_ = true;    // no NaN or infinite entry
    bool integral_ = true;  // every entry a whole number
    // The nearest `list_size_` cities of every city, row by row, nearest
    // first (ties by index), with their distances.
    std::size_t list_size_ = 0;
    std::vector<std::uint32_t> near_;
    std::vector<double> near_distance_;
    // Position of every city in the current tour (when it visits each once),
    // candidates of one row, and the candidates found from their far end:
    // far_[far_start_[i] .. far_start_[i+1]) for row i, ascending, and
    // `unlisted_`, the far ends whose list cannot say, ascending.
    struct FarEnd {
        std::size_t j, city;  // position j and the city there
        double radius;        // b + margin
    };
    std::vector<std::size_t> position_, row_candidates_, far_, far_start_;
    std::vector<FarEnd> unlisted_;
    std::vector<std::pair<std::size_t, std::size_t>> pairs_;  // (row, far end) as found
    // The current tour followed by its first city again.
    std::vector<std::size_t> ring_;
    // forward_[k] = D[t_k][t_(k+1) mod m]; backward_[k] = D[t_(k+1) mod m][t_k];
    // prefix_[k] = the first k forward edges added in order from 0.0.
    std::vector<double> forward_, backward_, prefix_;
    double forward_magnitude_ = 0.0;   // sum of |forward_[k]|
    double backward_magnitude_ = 0.0;  // sum of |backward_[k]|
};

}  // namespace hivekit
