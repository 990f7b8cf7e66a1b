#include "algorithms/tour.hpp"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cmath>
#include <limits>
#include <utility>

namespace hivekit {

namespace {

// A move must shorten the tour by more than this to be taken.
constexpr double kMinimumGain = 1e-12;

// Work units between two interrupt checks. A unit is one candidate decided by
// the bound or one edge of an exact sum: a few nanoseconds each.
constexpr std::size_t kInterruptInterval = std::size_t{1} << 16;

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

TwoOptSearch::TwoOptSearch(const DistanceMatrix& d, std::function<void()> check_interrupt)
    : d_(d), check_interrupt_(std::move(check_interrupt)) {
    const std::size_t n = d.size();
    for (std::size_t a = 0; a < n; ++a) {
        spend(n);
        for (std::size_t b = 0; b < n; ++b) {
            const double x = d(a, b);
            if (std::isfinite(x)) largest_entry_ = std::max(largest_entry_, std::fabs(x));
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

double TwoOptSearch::improve(std::span<std::size_t> tour) {
    const std::size_t m = tour.size();
    if (m == 0) return 0.0;
    measure(tour);
    double length = prefix_[m];
    if (m < 4) return length;
    // Lc + 1e-12 < L is false for every Lc when L is NaN or -inf.
    const double no_gain_below = -std::numeric_limits<double>::infinity();
    while (length > no_gain_below) {
        const bool moved = symmetric_ ? scan<true>(tour, length) : scan<false>(tour, length);
        if (!moved) break;
    }
    return length;
}

}  // namespace hivekit
