#include "algorithms/tour.hpp"

#include <algorithm>
#include <bit>
#include <chrono>
#include <cstdint>
#include <cmath>
#include <limits>
#include <numeric>
#include <utility>

namespace hivekit {

namespace {

// A move must shorten the tour by more than this to be taken.
constexpr double kMinimumGain = 1e-12;

// Length of every city's neighbour list: enough that the edges of a tour
// worth polishing rarely reach past it, small enough that the lists of a
// matrix of any size held in memory take a few bytes per row.
constexpr std::size_t kNeighbourCap = 32;

// Thrown inside a search on one of the engine's threads to abandon it once
// the batch is stopped; caught before it leaves the thread's task.
struct BatchStopped {};

// How long the caller waits for the other threads between two looks for an
// interrupt (the problem reads the clock and looks at most once a
// millisecond anyway).
constexpr auto kCallerLook = std::chrono::microseconds(500);

}  // namespace

double closed_tour_length(std::span<const std::size_t> tour, const DistanceMatrix& d) {
    const std::size_t m = tour.size();
    double total = 0.0;
    for (std::size_t k = 0; k < m; ++k) total += d(tour[k], tour[k + 1 == m ? 0 : k + 1]);
    return total;
}

std::optional<std::size_t> first_entry_out_of_range(std::span<const std::size_t> tour, std::size_t n_cities) {
    for (std::size_t k = 0; k < tour.size(); ++k)
        if (tour[k] >= n_cities) return k;
    return std::nullopt;
}

TwoOptSearch::TwoOptSearch(const DistanceMatrix& d, std::function<void()> check_interrupt, Method method)
    : d_(d), meter_(std::move(check_interrupt)), method_(method) {
    const std::size_t n = d.size();
    for (std::size_t a = 0; a < n; ++a) {
        meter_.spend(n);
        for (std::size_t b = 0; b < n; ++b) {
            const double x = d(a, b);
            if (std::isfinite(x)) {
                largest_entry_ = std::max(largest_entry_, std::fabs(x));
                if (std::floor(x) != x) integral_ = false;
            } else {
                finite_ = false;
            }
            if (std::bit_cast<std::uint64_t>(x) != std::bit_cast<std::uint64_t>(d(b, a))) symmetric_ = false;
        }
    }
}

void TwoOptSearch::measure(std::span<const std::size_t> tour) {
    const std::size_t m = tour.size();
    forward_.resize(m);
    backward_.resize(m);
    prefix_.resize(m + 1);
    ring_.assign(tour.begin(), tour.end());
    ring_.push_back(tour[0]);
    double sum = 0.0;
    prefix_[0] = 0.0;
    for (std::size_t k = 0; k < m; ++k) {
        const std::size_t a = tour[k], b = tour[k + 1 == m ? 0 : k + 1];
        const double there = d_(a, b);
        forward_[k] = there;
        backward_[k] = d_(b, a);
        sum += there;
        prefix_[k + 1] = sum;
    }
    prefix_valid_ = m;
    forward_magnitude_ = magnitude_of(forward_);
    backward_magnitude_ = magnitude_of(backward_);
    meter_.spend(m);
}

// The sum of |x| in four interleaved running sums. The bounds below only need
// a computed sum of m magnitudes to fall short of the true one by at most
// (m-1)u times it, which holds for any order of adding non-negative terms.
double TwoOptSearch::magnitude_of(std::span<const double> edges) {
    double lane[4] = {0.0, 0.0, 0.0, 0.0};
    const std::size_t m = edges.size(), whole = m - m % 4;
    for (std::size_t k = 0; k < whole; k += 4)
        for (std::size_t l = 0; l < 4; ++l) lane[l] += std::fabs(edges[k + l]);
    for (std::size_t k = whole; k < m; ++k) lane[0] += std::fabs(edges[k]);
    return (lane[0] + lane[1]) + (lane[2] + lane[3]);
}

double TwoOptSearch::prefix(std::size_t k) {
    // The same additions in the same order as measure() makes them.
    for (; prefix_valid_ < k; ++prefix_valid_)
        prefix_[prefix_valid_ + 1] = prefix_[prefix_valid_] + forward_[prefix_valid_];
    return prefix_[k];
}

double TwoOptSearch::reversed_length(std::span<const std::size_t> tour, std::size_t i, std::size_t j) {
    const std::size_t m = tour.size();
    // The first i-1 edges are the current tour's, so their partial sum is too.
    double total = prefix(i - 1);
    total += d_(tour[i - 1], tour[j - 1]);
    for (std::size_t q = j - 1; q-- > i;) total += backward_[q];
    total += d_(tour[i], tour[j == m ? 0 : j]);
    for (std::size_t q = j; q < m; ++q) total += forward_[q];
    return total;
}

// Why a candidate may be skipped without its exact sum. Let L and Lc be the
// exact closed lengths of the current tour and of the candidate, L^ and Lc^
// their position-order floating-point sums, A = sum |forward edges| and
// B = sum |backward edges| of the current tour. Recursive summation of m terms
// errs by at most (m-1)u times the sum of their magnitudes (u = 2^-53), so
// |L^ - L| <= (m-1)u A and |Lc^ - Lc| <= (m-1)u (A + N + Bs), where N is the
// magnitude of the two new end edges and Bs that of the segment read
// backwards. The computed change of the four end edges plus the segment's
// backward-minus-forward sum errs from Lc - L by at most (m+1)u (N + O + Bs + As),
// O and As being the magnitudes of the two removed end edges and of the
// segment read forwards. With As <= A and Bs <= B:
//     Lc^ - L^ >= change - (m+1)u (3A + 2B + 2N + O)   (rounding of the bound aside).
// The weight (m+2) 2^-52 is twice that factor, which also absorbs the rounding
// of the magnitudes and of the product, and the extra 2^-1074 covers the
// product's underflow. When the right side is not negative, Lc^ >= L^, so
// Lc^ + 1e-12 < L^ cannot hold. A sum that overflows gives +inf or NaN and
// fails the test too. A finite change means all its terms are finite, so none
// exceeds the largest finite entry: the bound with that entry in place of the
// four end edges holds for the whole pass and settles most candidates first.
// Every non-finite value sends the candidate to the exact sum. All magnitudes
// zero means every edge involved is zero: both sums are zero and the candidate
// fails. On a symmetric matrix the segment reads the same both ways and its
// term is exactly zero whenever A is finite (otherwise nothing passes the
// bound), so it is left out.
void TwoOptSearch::set_bounds(std::size_t m) {
    const double top = largest_entry_;
    weight_ = static_cast<double>(m + 2) * 0x1p-52;
    base_ = 3.0 * forward_magnitude_ + 2.0 * backward_magnitude_;
    pass_bound_ = weight_ * (((base_ + 2.0 * (top + top)) + top) + top) + 0x1p-1074;
}

inline bool TwoOptSearch::bounds_reject(double change, double added_first, double added_last, double removed_first,
                                        double removed_last) const {
    if (change >= pass_bound_ && change < std::numeric_limits<double>::infinity()) return true;
    const double magnitude =
        ((base_ + 2.0 * (std::fabs(added_first) + std::fabs(added_last))) + std::fabs(removed_first)) +
        std::fabs(removed_last);
    return std::isfinite(change) && (magnitude == 0.0 || change >= weight_ * magnitude + 0x1p-1074);
}

template <bool Symmetric>
bool TwoOptSearch::scan(std::span<std::size_t> tour, double& length) {
    const std::size_t m = tour.size();
    set_bounds(m);
    const std::size_t* ring = ring_.data();
    for (std::size_t i = 1; i + 3 <= m; ++i) {
        meter_.spend(m - i);
        const double* from_before = d_.row(ring[i - 1]).data();
        const double* from_first = d_.row(ring[i]).data();
        const double removed_first = forward_[i - 1];
        double segment_forward = 0.0, segment_backward = 0.0;
        for (std::size_t j = i + 2; j <= m; ++j) {
            const double added_first = from_before[ring[j - 1]];
            const double added_last = from_first[ring[j]];
            const double removed_last = forward_[j - 1];
            double change = (added_first + added_last) - (removed_first + removed_last);
            if constexpr (!Symmetric) {
                segment_forward += forward_[j - 2];
                segment_backward += backward_[j - 2];
                change = change + (segment_backward - segment_forward);
            }
            if (bounds_reject(change, added_first, added_last, removed_first, removed_last)) continue;
            meter_.spend(m - i);
            const double candidate = reversed_length(tour, i, j);
            if (candidate + kMinimumGain < length) {
                std::reverse(tour.begin() + static_cast<std::ptrdiff_t>(i),
                             tour.begin() + static_cast<std::ptrdiff_t>(j));
                measure(tour);
                length = candidate;
                return true;
            }
        }
    }
    return false;
}

bool TwoOptSearch::visits_every_city_once(std::span<const std::size_t> tour) {
    const std::size_t n = d_.size();
    if (tour.size() != n) return false;
    constexpr std::size_t kUnseen = std::numeric_limits<std::size_t>::max();
    position_.assign(n, kUnseen);
    for (std::size_t k = 0; k < n; ++k) {
        if (position_[tour[k]] != kUnseen) return false;
        position_[tour[k]] = k;
    }
    return true;
}

void TwoOptSearch::build_neighbours() {
    const std::size_t n = d_.size();
    list_size_ = std::min(n, kNeighbourCap);
    near_.resize(n * list_size_);
    near_distance_.resize(n * list_size_);
    std::vector<std::pair<double, std::uint32_t>> order(n);
    for (std::size_t a = 0; a < n; ++a) {
        meter_.spend(4 * n);
        const double* row = d_.row(a).data();
        for (std::size_t b = 0; b < n; ++b) order[b] = {row[b], static_cast<std::uint32_t>(b)};
        // Entries are finite here, so (distance, index) is a total order.
        const auto keep = order.begin() + static_cast<std::ptrdiff_t>(list_size_);
        if (list_size_ < n) std::nth_element(order.begin(), keep, order.end());
        std::sort(order.begin(), keep);
        for (std::size_t k = 0; k < list_size_; ++k) {
            near_[a * list_size_ + k] = order[k].second;
            near_distance_[a * list_size_ + k] = order[k].first;
        }
    }
    reach_.resize(n);
    for (std::size_t a = 0; a < n; ++a)
        reach_[a] = list_size_ == n ? std::numeric_limits<double>::infinity()
                                    : near_distance_[a * list_size_ + list_size_ - 1];
    // The same pairs filed by the listed city, in ascending order of the owner.
    reverse_start_.assign(n + 2, 0);
    for (const std::uint32_t y : near_) ++reverse_start_[y + 2];
    for (std::size_t y = 2; y <= n + 1; ++y) reverse_start_[y] += reverse_start_[y - 1];
    reverse_.resize(near_.size());
    reverse_distance_.resize(near_.size());
    for (std::size_t x = 0; x < n; ++x)
        for (std::size_t k = 0; k < list_size_; ++k) {
            const std::uint32_t y = near_[x * list_size_ + k];
            const std::size_t slot = reverse_start_[y + 1]++;
            reverse_[slot] = static_cast<std::uint32_t>(x);
            reverse_distance_[slot] = near_distance_[x * list_size_ + k];
        }
    meter_.spend(2 * near_.size());
}

// margin_ is zero while every sum is exact, and adding it then changes no
// comparison.
inline double TwoOptSearch::edge_radius(std::size_t k) const { return forward_[k] + margin_; }

inline bool TwoOptSearch::list_covers(std::size_t city, double radius) const {
    // A city outside the list is at least as far as the list's last one.
    return radius <= reach_[city];
}

void TwoOptSearch::forget_row(std::size_t i) {
    clean_[i] = 0;
    fragile_count_ -= fragile_[i].size();
    fragile_[i].clear();
}

// Which candidates need no exact look. Accepting the move (i, j) needs
// Lc^ + 1e-12 < L^ (notation of scan), so Lc^ < L^. Let a and b be the removed
// edges D[t(i-1)][t(i)] and D[t(j-1)][t(j)], c and d the added ones
// D[t(i-1)][t(j-1)] and D[t(i)][t(j)], A the sum of |edges| of the tour and T
// the largest |entry|. On a matrix with the same bits both ways the reversed
// segment adds the same terms, so Lc - L = (c + d) - (a + b) exactly; the
// candidate's edges are the tour's with a, b traded for c, d, so the two
// position-order sums err by at most (m-1)u A and (m-1)u (A + 2T). An accepted
// move therefore has (c + d) - (a + b) < G = (m-1)u (2A + 2T), which needs
// c < a + G or d < b + G. The margin M = (m+2) 2^-52 (2A + 2T) + 2^-1074 is at
// least twice G even as computed: the computed A falls short of A by at most
// (m-1)u A, the products and sums round by a few u more, and the 2^-1074 covers
// the product's underflow. Rounding a + M loses at most u (|a| + M) <= u (A + M),
// less than M - G, so fl(a + M) >= a + G, and likewise for b. A candidate with
// c >= fl(a + M) and d >= fl(b + M) cannot be taken. All of this assumes no sum
// overflows, which m T < 2^1000 ensures.
//
// Exact integers: when every entry is a whole number and m T <= 2^52 (as
// checked, with fl(2^52 / m) <= (1 + u) 2^52 / m < 2^53 / m), every partial sum
// is a whole number below 2^53 and so exact; then Lc^ = Lc, L^ = L, and
// fl(Lc + 1e-12) lies within 1e-12 of Lc + 1e-12, below Lc + 1 but not below Lc,
// so the test holds exactly when Lc < L, that is when the computed change,
// itself exact, is negative. The margin is then zero, and the new length is
// the tour's position-order sum, which measure() computes.
//
// Where the lists find them. The first condition, c < a + M, asks for t(j-1)
// among the cities nearer to t(i-1) than a + M: from t(i-1)'s list, or from
// the reverse lists of t(j-1) (the cities whose lists hold it). The second,
// d < b + M, asks for t(i) among the cities nearer to t(j) than b + M: from
// t(j)'s list, or from the reverse list of t(i). A list that cannot vouch for
// its radius (its last distance is below it) makes its row a long row, all of
// whose far ends are looked at, or its far end an unlisted one, looked at from
// every row.
template <bool Integral>
bool TwoOptSearch::decide(std::size_t i, std::size_t j, double& taken_length) {
    const std::size_t* ring = ring_.data();
    const double added_first = d_(ring[i - 1], ring[j - 1]);
    const double added_last = d_(ring[i], ring[j]);
    const double removed_first = forward_[i - 1];
    const double removed_last = forward_[j - 1];
    const double change = (added_first + added_last) - (removed_first + removed_last);
    if constexpr (Integral) {
        return change < 0.0;
    } else {
        if (bounds_reject(change, added_first, added_last, removed_first, removed_last)) return false;
        const std::size_t m = ring_.size() - 1;
        meter_.spend(m);
        const double candidate = reversed_length(std::span<const std::size_t>(ring, m), i, j);
        if (candidate + kMinimumGain < length_) {
            taken_length = candidate;
            return true;
        }
        // Rejected by its exact sum alone: other moves may change that.
        fragile_[i].push_back(j);
        ++fragile_count_;
        return false;
    }
}

template <bool Integral>
void TwoOptSearch::apply(std::span<std::size_t> tour, std::size_t i, std::size_t j) {
    const std::size_t m = tour.size();
    if (i < j) {
        const auto at = [](auto& v, std::size_t k) { return v.begin() + static_cast<std::ptrdiff_t>(k); };
        std::reverse(at(tour, i), at(tour, j));
        std::reverse(at(ring_, i), at(ring_, j));
        // The segment's own edges are the same values read the other way
        // round, the same bits both ways: only the two end edges are new.
        std::reverse(at(forward_, i), at(forward_, j - 1));
        const double removed_first = forward_[i - 1], removed_last = forward_[j - 1];
        forward_[i - 1] = d_(ring_[i - 1], ring_[i]);
        forward_[j - 1] = d_(ring_[j - 1], ring_[j]);
        std::copy(at(forward_, i - 1), at(forward_, j), at(backward_, i - 1));
        for (std::size_t k = i; k < j; ++k) position_[tour[k]] = k;
        if constexpr (Integral) {
            // Every sum is exact (see decide), so the new length is the old
            // one plus the change of the four end edges, with no sum to redo.
            length_ = length_ + ((forward_[i - 1] + forward_[j - 1]) - (removed_first + removed_last));
        } else {
            // Partial sums from position i-1 on are made again when asked for.
            prefix_valid_ = std::min(prefix_valid_, i - 1);
            forward_magnitude_ = backward_magnitude_ = magnitude_of(forward_);
        }
    } else {
        // The tour as improve() measured it.
        length_ = prefix_[m];
    }
    set_bounds(m);
    const double margin =
        Integral ? 0.0 : weight_ * (2.0 * forward_magnitude_ + 2.0 * largest_entry_) + 0x1p-1074;
    // The rows and far ends whose lists fall short of their radius. Only the
    // edges at positions i-1 .. j-1 and their cities changed; the others keep
    // their entries while the margin does not grow (an entry made with a
    // wider margin only sends more candidates to the exact test).
    std::size_t from = 0, to = m;
    if (i < j && margin <= margin_) {
        from = i - 1;
        to = j;
    }
    margin_ = margin;
    const auto long_first = std::lower_bound(long_rows_.begin(), long_rows_.end(), from + 1);
    const auto long_last = std::upper_bound(long_first, long_rows_.end(), to);
    const auto unlisted_first = std::lower_bound(unlisted_.begin(), unlisted_.end(), from + 1,
                                                 [](const FarEnd& end, std::size_t j) { return end.j < j; });
    const auto unlisted_last = std::lower_bound(unlisted_first, unlisted_.end(), to + 1,
                                                [](const FarEnd& end, std::size_t j) { return end.j < j; });
    new_long_rows_.clear();
    new_unlisted_.clear();
    const std::size_t* ring = ring_.data();
    for (std::size_t k = from; k < to; ++k) {
        const double radius = edge_radius(k);
        if (k + 4 <= m && !list_covers(ring[k], radius)) new_long_rows_.push_back(k + 1);
        if (k >= 2 && !list_covers(ring[k + 1], radius)) new_unlisted_.push_back({k + 1, ring[k + 1], radius});
    }
    long_rows_.insert(long_rows_.erase(long_first, long_last), new_long_rows_.begin(), new_long_rows_.end());
    unlisted_.insert(unlisted_.erase(unlisted_first, unlisted_last), new_unlisted_.begin(), new_unlisted_.end());
    meter_.spend(to - from + long_rows_.size() + unlisted_.size());
}

template <bool Integral>
std::size_t TwoOptSearch::scan_row(std::size_t i, std::size_t lo, std::size_t hi, double& taken_length) {
    const std::size_t m = ring_.size() - 1;
    const std::size_t* ring = ring_.data();
    const std::size_t before = ring[i - 1], first = ring[i];
    const double radius = edge_radius(i - 1);
    std::vector<std::size_t>& fragile = fragile_[i];
    const auto look = [&](std::size_t j) { return decide<Integral>(i, j, taken_length); };
    // The far ends outside lo .. hi whose exact sums rejected them last time:
    // the same four cities, but a different tour around them.
    row_candidates_.clear();
    for (const std::size_t j : fragile)
        if (j < lo || j > hi) row_candidates_.push_back(j);
    fragile_count_ -= fragile.size();
    fragile.clear();
    if (!list_covers(before, radius)) {
        // Every far end in lo .. hi, in order among the fragile ones (all
        // outside it).
        meter_.spend(hi - lo + 1 + row_candidates_.size());
        std::sort(row_candidates_.begin(), row_candidates_.end());
        const auto above = std::upper_bound(row_candidates_.begin(), row_candidates_.end(), hi);
        for (auto j = row_candidates_.begin(); j != above; ++j)
            if (look(*j)) return *j;
        for (std::size_t j = lo; j <= hi; ++j)
            if (look(j)) return j;
        for (auto j = above; j != row_candidates_.end(); ++j)
            if (look(*j)) return *j;
        return 0;
    }
    const std::uint32_t* near = &near_[before * list_size_];
    const double* distance = &near_distance_[before * list_size_];
    for (std::size_t k = 0; k < list_size_ && distance[k] < radius; ++k) {
        const std::size_t j = position_[near[k]] + 1;
        if (j >= lo && j <= hi) row_candidates_.push_back(j);
    }
    // Far ends whose lists hold t(i) near enough; a far end at position 0 is j = m.
    for (std::size_t s = reverse_start_[first]; s < reverse_start_[first + 1]; ++s) {
        const std::size_t p = position_[reverse_[s]];
        const std::size_t j = p == 0 ? m : p;
        if (j < lo || j > hi) continue;
        if (reverse_distance_[s] < edge_radius(j - 1))
            row_candidates_.push_back(j);
    }
    const double* from_first = d_.row(first).data();
    auto unlisted = std::lower_bound(unlisted_.begin(), unlisted_.end(), lo,
                                     [](const FarEnd& end, std::size_t j) { return end.j < j; });
    const auto unlisted_end = std::upper_bound(unlisted, unlisted_.end(), hi,
                                               [](std::size_t j, const FarEnd& end) { return j < end.j; });
    meter_.spend(row_candidates_.size() + static_cast<std::size_t>(unlisted_end - unlisted) + 2 * list_size_);
    for (; unlisted != unlisted_end; ++unlisted)
        if (from_first[unlisted->city] < unlisted->radius) row_candidates_.push_back(unlisted->j);
    std::sort(row_candidates_.begin(), row_candidates_.end());
    std::size_t last = 0;
    for (const std::size_t j : row_candidates_) {
        if (j == last) continue;
        last = j;
        if (look(j)) return j;
    }
    return 0;
}

template <bool Integral>
std::pair<std::size_t, std::size_t> TwoOptSearch::rescan_columns(std::size_t h, std::size_t j,
                                                                   double& taken_length) {
    const std::size_t* ring = ring_.data();
    pairs_.clear();
    for (std::size_t c = std::max<std::size_t>(h, 3); c <= j; ++c) {
        // d < b + M: rows whose t(i) is near t(c).
        const std::size_t far_end = ring[c];
        const double radius = edge_radius(c - 1);
        if (list_covers(far_end, radius)) {
            const std::uint32_t* near = &near_[far_end * list_size_];
            const double* distance = &near_distance_[far_end * list_size_];
            for (std::size_t k = 0; k < list_size_ && distance[k] < radius; ++k) {
                const std::size_t i = position_[near[k]];
                if (i >= 1 && i < h && i + 2 <= c) pairs_.push_back({i, c});
            }
        } else {
            const std::size_t rows = std::min(h - 1, c - 2);
            // D[t(i)][t(c)], read along the far end's row: the same bits.
            const double* from_far_end = d_.row(far_end).data();
            meter_.spend(rows);
            for (std::size_t i = 1; i <= rows; ++i)
                if (from_far_end[ring[i]] < radius) pairs_.push_back({i, c});
        }
        // c < a + M: rows whose t(i-1) holds t(c-1) near enough in its list.
        const std::size_t end_city = ring[c - 1];
        for (std::size_t s = reverse_start_[end_city]; s < reverse_start_[end_city + 1]; ++s) {
            const std::size_t i = position_[reverse_[s]] + 1;
            if (i < h && i + 2 <= c && reverse_distance_[s] < edge_radius(i - 1)) pairs_.push_back({i, c});
        }
    }
    meter_.spend(2 * list_size_ * (j - h + 1));
    for (const std::size_t i : long_rows_) {
        if (i >= h) break;
        meter_.spend(j - h + 1);
        for (std::size_t c = std::max(h, i + 2); c <= j; ++c) pairs_.push_back({i, c});
    }
    // Candidates whose exact sums rejected them: the same four cities, but a
    // different tour around them.
    if (fragile_count_ > 0)
        for (std::size_t i = 1; i < h; ++i) {
            for (const std::size_t c : fragile_[i])
                if (c < h || c > j) pairs_.push_back({i, c});
            fragile_count_ -= fragile_[i].size();
            fragile_[i].clear();
        }
    std::sort(pairs_.begin(), pairs_.end());
    meter_.spend(pairs_.size());
    std::pair<std::size_t, std::size_t> last{0, 0};
    for (const auto& candidate : pairs_) {
        if (candidate == last) continue;
        last = candidate;
        if (decide<Integral>(candidate.first, candidate.second, taken_length)) return candidate;
    }
    return {0, 0};
}

template <bool Integral>
std::pair<std::size_t, std::size_t> TwoOptSearch::rescan_before(std::size_t h, std::size_t j,
                                                                  double& taken_length) {
    // Both ways give the first candidate taken in scan order; they differ in
    // what they read. Far end by far end, the lists of the far ends' cities
    // name the rows near them: about two lists per far end, and every far end
    // for each long row. Row by row, each row's own lists: about two lists per
    // row, stopping at the first row that takes a move.
    const std::size_t width = j - h + 1;
    const std::size_t long_before = static_cast<std::size_t>(
        std::lower_bound(long_rows_.begin(), long_rows_.end(), h) - long_rows_.begin());
    if (width * (2 * list_size_ + long_before) < (h - 1) * 2 * list_size_)
        return rescan_columns<Integral>(h, j, taken_length);
    for (std::size_t i = 1; i < h; ++i) {
        const std::size_t c = scan_row<Integral>(i, std::max(h, i + 2), j, taken_length);
        if (c != 0) return {i, c};
    }
    return {0, 0};
}

// The search remembers, across moves, which rows are known to hold nothing.
// The candidate (i, j) is read from four cities only, at positions i-1, i,
// j-1 and j, and from the tour's length. Moves are taken at the first
// candidate in scan order, so when the move (h, j) is taken every row before
// h has been looked at and holds nothing. Reversing positions h .. j-1 changes
// the cities of a row i < h only at its far ends j' in h .. j; every row in
// h .. j changes; a row after j keeps all its cities (its far ends come after
// j + 1). So after the move only the far ends h .. j of the rows before h are
// new, and the rows from h on that were clean before stay clean past j.
//
// A rejection made for four unchanged cities stands when it did not depend on
// the rest of the tour. With exact integers the test is the sign of the change
// of four edges: it does. With rounding, a candidate set aside by the margin
// or by the bounds of decide stays aside while the tour's magnitude A (which
// both grow with, through monotone rounding) is not above the A it was judged
// with; should A grow, every row is looked at again. A candidate that only its
// exact sum rejected is kept in fragile_ and decided again after every move,
// in its place in the scan order; should they become many, every row is looked
// at again after every move, which is the plain restart.
template <bool Integral>
void TwoOptSearch::list_search(std::span<std::size_t> tour, double& length) {
    const std::size_t m = tour.size();
    const double inf = std::numeric_limits<double>::infinity();
    clean_.assign(m + 1, 0);
    fragile_.resize(m + 1);
    for (auto& row : fragile_) row.clear();
    fragile_count_ = 0;
    // The smallest magnitude A any clean row was judged with.
    double judged_with = inf;
    bool remember = true;
    apply<Integral>(tour, 0, 0);
    const auto forget_all = [&] {
        for (std::size_t i = 1; i <= m; ++i) forget_row(i);
        judged_with = inf;
    };
    std::size_t r = 1;
    while (true) {
        while (r + 3 <= m && clean_[r] && fragile_[r].empty()) ++r;
        if (r + 3 > m) break;
        double taken_length = 0.0;
        std::size_t j = 0;
        if (!clean_[r]) {
            j = scan_row<Integral>(r, r + 2, m, taken_length);
        } else {
            meter_.spend(fragile_[r].size());
            std::vector<std::size_t> again;
            again.swap(fragile_[r]);
            fragile_count_ -= again.size();
            for (const std::size_t c : again) {
                if (decide<Integral>(r, c, taken_length)) {
                    j = c;
                    break;
                }
            }
        }
        if (j == 0) {
            clean_[r] = 1;
            judged_with = std::min(judged_with, forward_magnitude_);
            ++r;
            continue;
        }
        std::size_t h = r;
        while (true) {
            apply<Integral>(tour, h, j);
            if constexpr (!Integral) length_ = taken_length;
            length = length_;
            for (std::size_t i = h; i <= j && i <= m; ++i) forget_row(i);
            if (fragile_count_ > m) remember = false;
            if (!remember || (!Integral && forward_magnitude_ > judged_with)) {
                forget_all();
                h = 1;
                break;
            }
            // The rows before h are judged again, with this magnitude.
            judged_with = std::min(judged_with, forward_magnitude_);
            const auto [i, c] = rescan_before<Integral>(h, j, taken_length);
            if (i == 0) break;
            // Rows after i were not looked at for this move's far ends.
            for (std::size_t k = i + 1; k < h; ++k) forget_row(k);
            h = i;
            j = c;
        }
        r = h;
    }
}

double TwoOptSearch::improve(std::span<std::size_t> tour) {
    const std::size_t m = tour.size();
    if (m == 0) return 0.0;
    measure(tour);
    double length = prefix_[m];
    if (m < 4) return length;
    const double cities = static_cast<double>(m);
    // The lists apply when no sum can overflow (see decide).
    const bool listed = method_ == Method::Automatic && symmetric_ && finite_ && largest_entry_ * cities < 0x1p1000 &&
                        visits_every_city_once(tour);
    if (listed) {
        if (near_.empty()) build_neighbours();
        if (integral_ && largest_entry_ <= 0x1p52 / cities)
            list_search<true>(tour, length);
        else
            list_search<false>(tour, length);
        return length;
    }
    // Lc + 1e-12 < L is false for every Lc when L is NaN or -inf; the lists
    // see only finite sums.
    const double no_gain_below = -std::numeric_limits<double>::infinity();
    while (length > no_gain_below) {
        const bool moved = symmetric_ ? scan<true>(tour, length) : scan<false>(tour, length);
        if (!moved) break;
    }
    return length;
}

TwoOptBatch::TwoOptBatch(const DistanceMatrix& d, Problem& problem, std::size_t max_tours)
    : d_(d), problem_(problem), team_(max_tours), searches_(team_.size()) {}

TwoOptSearch& TwoOptBatch::search(std::size_t slot) {
    std::unique_ptr<TwoOptSearch>& s = searches_[slot];
    if (!s) {
        if (slot == 0)
            s = std::make_unique<TwoOptSearch>(d_, [this] { check_caller(); });
        else
            s = std::make_unique<TwoOptSearch>(d_, [this] {
                if (stop_.load(std::memory_order_relaxed)) throw BatchStopped{};
            });
    }
    return *s;
}

void TwoOptBatch::check_caller() {
    try {
        problem_.check_interrupt();
    } catch (...) {
        stop_.store(true);
        throw;
    }
}

void TwoOptBatch::improve(std::span<std::size_t> tours, std::size_t count, std::span<double> lengths) {
    if (count == 0) return;
    const std::size_t m = tours.size() / count;
    next_.store(0);
    stop_.store(false);
    done_ = 0;
    // Every thread takes the next tour not yet taken until none is left; the
    // caller then waits for the others' last tours, looking for interrupts.
    team_.run(team_.size(), [&](std::size_t, std::size_t slot) {
        try {
            for (;;) {
                if (stop_.load()) return;
                if (slot == 0) check_caller();
                const std::size_t k = next_.fetch_add(1);
                if (k >= count) break;
                const double length = search(slot).improve(tours.subspan(k * m, m));
                if (!lengths.empty()) lengths[k] = length;
                {
                    std::lock_guard<std::mutex> lock(mutex_);
                    ++done_;
                }
                progress_.notify_all();
            }
            if (slot != 0) return;
            std::unique_lock<std::mutex> lock(mutex_);
            while (done_ < count && !stop_.load()) {
                progress_.wait_for(lock, kCallerLook);
                lock.unlock();
                check_caller();
                lock.lock();
            }
        } catch (const BatchStopped&) {
            // Another thread's stop: the error, if any, is the one it reports.
        } catch (...) {
            stop_.store(true);
            progress_.notify_all();
            throw;
        }
    });
}

}  // namespace hivekit
