#include "algorithms/tour.hpp"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cmath>
#include <limits>
#include <numeric>
#include <utility>

namespace hivekit {

namespace {

// A move must shorten the tour by more than this to be taken.
constexpr double kMinimumGain = 1e-12;

// Work units between two interrupt checks. A unit is one candidate decided by
// the bound or one edge of an exact sum: a few nanoseconds each.
constexpr std::size_t kInterruptInterval = std::size_t{1} << 16;

// Length of every city's neighbour list: enough that the edges of a tour
// worth polishing rarely reach past it, small enough that the lists of a
// matrix of any size held in memory take a few bytes per row.
constexpr std::size_t kNeighbourCap = 32;

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
    : d_(d), check_interrupt_(std::move(check_interrupt)), method_(method) {
    const std::size_t n = d.size();
    for (std::size_t a = 0; a < n; ++a) {
        spend(n);
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

void TwoOptSearch::spend(std::size_t units) {
    work_ += units;
    if (work_ < kInterruptInterval) return;
    work_ = 0;
    if (check_interrupt_) check_interrupt_();
}

void TwoOptSearch::measure(std::span<const std::size_t> tour) {
    const std::size_t m = tour.size();
    forward_.resize(m);
    backward_.resize(m);
    prefix_.resize(m + 1);
    ring_.assign(tour.begin(), tour.end());
    ring_.push_back(tour[0]);
    double sum = 0.0, forward_magnitude = 0.0, backward_magnitude = 0.0;
    prefix_[0] = 0.0;
    for (std::size_t k = 0; k < m; ++k) {
        const std::size_t a = tour[k], b = tour[k + 1 == m ? 0 : k + 1];
        const double there = d_(a, b), back = d_(b, a);
        forward_[k] = there;
        backward_[k] = back;
        sum += there;
        prefix_[k + 1] = sum;
        forward_magnitude += std::fabs(there);
        backward_magnitude += std::fabs(back);
    }
    forward_magnitude_ = forward_magnitude;
    backward_magnitude_ = backward_magnitude;
    spend(m);
}

double TwoOptSearch::reversed_length(std::span<const std::size_t> tour, std::size_t i, std::size_t j) const {
    const std::size_t m = tour.size();
    // The first i-1 edges are the current tour's, so their partial sum is too.
    double total = prefix_[i - 1];
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
template <bool Symmetric>
bool TwoOptSearch::scan(std::span<std::size_t> tour, double& length) {
    const std::size_t m = tour.size();
    const double weight = static_cast<double>(m + 2) * 0x1p-52;
    const double inf = std::numeric_limits<double>::infinity();
    const double base = 3.0 * forward_magnitude_ + 2.0 * backward_magnitude_;
    const double top = largest_entry_;
    const double pass_bound = weight * (((base + 2.0 * (top + top)) + top) + top) + 0x1p-1074;
    const std::size_t* ring = ring_.data();
    for (std::size_t i = 1; i + 3 <= m; ++i) {
        spend(m - i);
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
            if (change >= pass_bound && change < inf) continue;
            const double magnitude =
                ((base + 2.0 * (std::fabs(added_first) + std::fabs(added_last))) + std::fabs(removed_first)) +
                std::fabs(removed_last);
            if (std::isfinite(change) && (magnitude == 0.0 || change >= weight * magnitude + 0x1p-1074)) continue;
            spend(m - i);
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
        spend(4 * n);
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
}

inline bool TwoOptSearch::list_covers(std::size_t city, double radius) const {
    // A city outside the list is at least as far as the list's last one.
    return list_size_ == d_.size() || radius <= near_distance_[city * list_size_ + list_size_ - 1];
}

void TwoOptSearch::collect_far_candidates(std::size_t m, double margin, bool integral) {
    const std::size_t* ring = ring_.data();
    far_start_.assign(m + 2, 0);
    unlisted_.clear();
    pairs_.clear();
    // Found in ascending far end j and then filed by row with a stable
    // counting sort, so every row's candidates come out ascending.
    for (std::size_t j = 3; j <= m; ++j) {
        const std::size_t far_end = ring[j];
        const double radius = integral ? forward_[j - 1] : forward_[j - 1] + margin;
        if (!list_covers(far_end, radius)) {
            unlisted_.push_back({j, far_end, radius});
            continue;
        }
        const std::uint32_t* near = &near_[far_end * list_size_];
        const double* distance = &near_distance_[far_end * list_size_];
        for (std::size_t k = 0; k < list_size_ && distance[k] < radius; ++k) {
            const std::size_t i = position_[near[k]];
            if (i < 1 || i + 2 > j) continue;
            pairs_.push_back({i, j});
            ++far_start_[i + 1];
        }
    }
    spend(m + pairs_.size());
    for (std::size_t i = 1; i <= m + 1; ++i) far_start_[i] += far_start_[i - 1];
    far_.resize(pairs_.size());
    for (const auto& [i, j] : pairs_) far_[far_start_[i]++] = j;
    // Filing advanced every start to the next row's start; shift them back.
    for (std::size_t i = m + 1; i > 0; --i) far_start_[i] = far_start_[i - 1];
    far_start_[0] = 0;
}

// Which candidates a row may leave out. Accepting the move (i, j) needs
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
// Which candidates the margin leaves. The first condition, c < a + M, asks for
// t(j-1) among the cities nearer to t(i-1) than its successor plus M, read from
// t(i-1)'s list. The second, d < b + M, asks for t(i) among the cities nearer
// to t(j) than its predecessor plus M, read from t(j)'s list once per pass for
// every j and filed by the row it names. A list that cannot vouch for its
// radius (its last distance is below it) sends the whole row to the plain
// scan, or the far end j to every row. The rest are examined in ascending j
// with the plain test, so the first move taken is the plain scan's.
template <bool Integral>
bool TwoOptSearch::pruned_scan(std::span<std::size_t> tour, double& length) {
    const std::size_t m = tour.size();
    const double weight = static_cast<double>(m + 2) * 0x1p-52;
    const double inf = std::numeric_limits<double>::infinity();
    const double top = largest_entry_;
    const double margin = Integral ? 0.0 : weight * (2.0 * forward_magnitude_ + 2.0 * top) + 0x1p-1074;
    // The bounds of scan, for the candidates it examines.
    const double base = 3.0 * forward_magnitude_ + 2.0 * backward_magnitude_;
    const double pass_bound = weight * (((base + 2.0 * (top + top)) + top) + top) + 0x1p-1074;
    collect_far_candidates(m, margin, Integral);
    const std::size_t* ring = ring_.data();
    for (std::size_t i = 1; i + 3 <= m; ++i) {
        const std::size_t before = ring[i - 1];
        const double* from_before = d_.row(before).data();
        const double* from_first = d_.row(ring[i]).data();
        const double removed_first = forward_[i - 1];
        // Decides the candidate j exactly as scan does; true when it was taken.
        const auto take = [&](std::size_t j) {
            const double added_first = from_before[ring[j - 1]];
            const double added_last = from_first[ring[j]];
            const double removed_last = forward_[j - 1];
            const double change = (added_first + added_last) - (removed_first + removed_last);
            if constexpr (Integral) {
                if (!(change < 0.0)) return false;
                std::reverse(tour.begin() + static_cast<std::ptrdiff_t>(i), tour.begin() + static_cast<std::ptrdiff_t>(j));
                measure(tour);
                for (std::size_t k = i; k < j; ++k) position_[tour[k]] = k;
                length = prefix_[m];
                return true;
            } else {
                if (change >= pass_bound && change < inf) return false;
                const double magnitude =
                    ((base + 2.0 * (std::fabs(added_first) + std::fabs(added_last))) + std::fabs(removed_first)) +
                    std::fabs(removed_last);
                if (std::isfinite(change) && (magnitude == 0.0 || change >= weight * magnitude + 0x1p-1074))
                    return false;
                spend(m - i);
                const double candidate = reversed_length(tour, i, j);
                if (!(candidate + kMinimumGain < length)) return false;
                std::reverse(tour.begin() + static_cast<std::ptrdiff_t>(i), tour.begin() + static_cast<std::ptrdiff_t>(j));
                measure(tour);
                for (std::size_t k = i; k < j; ++k) position_[tour[k]] = k;
                length = candidate;
                return true;
            }
        };
        const double radius = Integral ? removed_first : removed_first + margin;
        if (!list_covers(before, radius)) {
            spend(m - i);
            for (std::size_t j = i + 2; j <= m; ++j)
                if (take(j)) return true;
            continue;
        }
        row_candidates_.clear();
        const std::uint32_t* near = &near_[before * list_size_];
        const double* distance = &near_distance_[before * list_size_];
        for (std::size_t k = 0; k < list_size_ && distance[k] < radius; ++k) {
            const std::size_t j = position_[near[k]] + 1;
            if (j >= i + 2) row_candidates_.push_back(j);
        }
        row_candidates_.insert(row_candidates_.end(), far_.begin() + static_cast<std::ptrdiff_t>(far_start_[i]),
                               far_.begin() + static_cast<std::ptrdiff_t>(far_start_[i + 1]));
        std::sort(row_candidates_.begin(), row_candidates_.end());
        // A far end whose list cannot say is tested here: its added edge d
        // against its own radius. Merged in ascending order with the rest.
        auto unlisted = std::lower_bound(unlisted_.begin(), unlisted_.end(), i + 2,
                                         [](const FarEnd& end, std::size_t j) { return end.j < j; });
        spend(row_candidates_.size() + static_cast<std::size_t>(unlisted_.end() - unlisted) + 1);
        std::size_t last = 0;
        auto listed = row_candidates_.begin();
        while (true) {
            std::size_t j;
            if (unlisted != unlisted_.end() && (listed == row_candidates_.end() || unlisted->j <= *listed)) {
                const FarEnd& end = *unlisted++;
                if (!(from_first[end.city] < end.radius)) continue;
                j = end.j;
            } else if (listed != row_candidates_.end()) {
                j = *listed++;
            } else {
                break;
            }
            if (j == last) continue;
            last = j;
            if (take(j)) return true;
        }
    }
    return false;
}

double TwoOptSearch::improve(std::span<std::size_t> tour) {
    const std::size_t m = tour.size();
    if (m == 0) return 0.0;
    measure(tour);
    double length = prefix_[m];
    if (m < 4) return length;
    const double cities = static_cast<double>(m);
    // The lists apply when no sum can overflow (see pruned_scan).
    const bool pruned = method_ == Method::Automatic && symmetric_ && finite_ && largest_entry_ * cities < 0x1p1000 &&
                        visits_every_city_once(tour);
    const bool exact = integral_ && largest_entry_ <= 0x1p52 / cities;
    if (pruned && near_.empty()) build_neighbours();
    // Lc + 1e-12 < L is false for every Lc when L is NaN or -inf.
    const double no_gain_below = -std::numeric_limits<double>::infinity();
    while (length > no_gain_below) {
        bool moved;
        if (pruned)
            moved = exact ? pruned_scan<true>(tour, length) : pruned_scan<false>(tour, length);
        else
            moved = symmetric_ ? scan<true>(tour, length) : scan<false>(tour, length);
        if (!moved) break;
    }
    return length;
}

}  // namespace hivekit
