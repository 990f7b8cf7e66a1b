// Steps that several optimiser bodies share word for word.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "algorithms/result.hpp"
#include "core/bounds.hpp"
#include "core/memory.hpp"
#include "core/error.hpp"
#include "core/numeric.hpp"
#include "core/problem.hpp"
#include "core/random_source.hpp"

namespace hivekit {

// Bytes one row of d doubles may cost while a body runs: a body keeps up to
// four arrays of its population's shape at once (positions, velocities,
// personal bests, the rows it hands back), and a row handed back as a vector
// of its own also carries the vector and its heap block.
inline std::size_t row_footprint(std::size_t d) {
    constexpr std::size_t kCopies = 4, kRowOverhead = 64;
    if (d > (SIZE_MAX / kCopies - kRowOverhead) / sizeof(double)) return SIZE_MAX;
    return kCopies * (d * sizeof(double) + kRowOverhead);
}

// Number of doubles in n rows of d values. A product that does not fit in a
// size, or a population whose rows could not all stay resident, is reported
// like any other allocation that cannot be made, before anything is allocated.
inline std::size_t rows_size(std::size_t n, std::size_t d) {
    require_resident(n, row_footprint(d));
    if (d != 0 && n > SIZE_MAX / d) throw std::bad_alloc();
    return n * d;
}

// Room for one history entry per iteration. A history that could not stay
// resident is refused before the run rather than after hours of it.
inline std::size_t history_capacity(std::uint64_t n_iterations) {
    require_resident(n_iterations, sizeof(double));
    return n_iterations;
}

// One position drawn like an initial one: lower[j] + uniform() * span[j],
// coordinate by coordinate.
inline void fill_uniform_position(std::span<double> row, const Bounds& bounds, std::span<const double> span,
                                  RandomSource& rng) {
    for (std::size_t j = 0; j < row.size(); ++j) row[j] = bounds.lower()[j] + rng.uniform() * span[j];
}

// Positions of n individuals laid out row by row: lower[j] + uniform() * span[j],
// drawn individual by individual, coordinate by coordinate.
inline void fill_uniform_population(std::span<double> rows, std::size_t n, const Bounds& bounds,
                                    std::span<const double> span, RandomSource& rng, WorkMeter& meter) {
    const std::size_t d = span.size();
    for (std::size_t i = 0; i < n; ++i) {
        meter.spend(d);
        fill_uniform_position({&rows[i * d], d}, bounds, span, rng);
    }
}

// Whether value f takes the place of a current value under a rule where ties
// replace too: not greater, or a number where the current value is NaN (so a
// member stuck at NaN can still be replaced).
inline bool replaces_or_ties(double f, double current) { return f <= current || (current != current && f == f); }

// The rows of a row-major array of positions d wide, as separate positions.
inline std::vector<std::vector<double>> split_rows(std::span<const double> rows, std::size_t d) {
    std::vector<std::vector<double>> out;
    if (d == 0) return out;
    out.reserve(rows.size() / d);
    for (std::size_t start = 0; start + d <= rows.size(); start += d)
        out.emplace_back(rows.begin() + start, rows.begin() + start + d);
    return out;
}

// Index of the first of equal minima: the choice starts at 0 and moves to k
// only when its value is strictly greater than value k, or when it is NaN and
// value k is a number. Requires at least one value.
inline std::size_t initial_best_index(std::span<const double> values) {
    std::size_t best = 0;
    for (std::size_t k = 1; k < values.size(); ++k)
        if (improves(values[k], values[best])) best = k;
    return best;
}

// The best position seen so far and its value. An offered value takes the
// place of the recorded one only when it improves on it: never on a tie, and
// a number always beats a NaN.
struct BestRecord {
    std::vector<double> position;
    double value;

    // The first of equal minima among evaluated rows of a row-major array,
    // values[i] belonging to row i. Requires at least one value.
    static BestRecord first_of(std::span<const double> rows, std::span<const double> values) {
        const std::size_t d = rows.size() / values.size();
        const std::size_t i = initial_best_index(values);
        return {std::vector<double>(rows.begin() + i * d, rows.begin() + (i + 1) * d), values[i]};
    }

    void offer(std::span<const double> x, double f) {
        if (!improves(f, value)) return;
        std::copy(x.begin(), x.end(), position.begin());
        value = f;
    }

    // For values the body's own rule does not offer (a member stuck at NaN
    // accepts nothing; a bat may turn a better value down): a number still
    // takes the place of a NaN best, which must not outlast the numbers seen.
    void offer_over_nan(std::span<const double> x, double f) {
        if (value != value) offer(x, f);
    }

    // Hands the record over as the run's best value and solution.
    void store_in(RunResult& result) && {
        result.best_value = value;
        result.best_solution = std::move(position);
    }
};

// The usual start of a population: values.size() positions drawn into rows
// (row by row, each d = span.size() wide) as fill_uniform_population draws
// them, then evaluated into values as one batch, and the first of equal
// minima taken as the first best. Every position is drawn before any value is
// read, and the values are read only once all are in, so the batch gives what
// evaluating row by row gives. Requires at least one row.
inline BestRecord start_population(Problem& problem, std::span<double> rows, std::span<double> values,
                                   const Bounds& bounds, std::span<const double> span, RandomSource& rng,
                                   WorkMeter& meter) {
    const std::size_t d = span.size();
    fill_uniform_population(rows, values.size(), bounds, span, rng, meter);
    meter.spend(values.size() * d);
    problem.evaluate_batch(rows.first(values.size() * d), values);
    meter.spend(values.size());
    return BestRecord::first_of(rows.first(values.size() * d), values);
}

// Candidates made for members of a population but not yet evaluated, in the
// order they were made, at most one per member. settle() evaluates them as
// one batch and hands each member its candidate and value, in that order.
class PendingRows {
public:
    PendingRows(std::size_t n, std::size_t d) : d_(d), members_(n), rows_(n * d), values_(n) {}

    // Room for the candidate of `member`, to be filled before the next call.
    std::span<double> add(std::size_t member) {
        members_[count_] = member;
        return {&rows_[count_++ * d_], d_};
    }
    std::span<const std::size_t> members() const { return {members_.data(), count_}; }

    template <class Take>  // take(member, candidate, value)
    void settle(Problem& problem, WorkMeter& meter, Take take) {
        if (count_ == 0) return;
        meter.spend(count_ * d_);
        problem.evaluate_batch(std::span<const double>(rows_).first(count_ * d_),
                               std::span<double>(values_).first(count_));
        const std::size_t count = std::exchange(count_, 0);
        for (std::size_t r = 0; r < count; ++r)
            take(members_[r], std::span<const double>(&rows_[r * d_], d_), values_[r]);
    }

private:
    std::size_t d_;
    std::vector<std::size_t> members_;
    std::vector<double> rows_, values_;
    std::size_t count_ = 0;
};

// Refuses a population below the body's smallest.
inline std::optional<OptimizerError> too_few(std::uint64_t size, const SizeLimit& smallest) {
    if (size >= smallest.minimum) return std::nullopt;
    return OptimizerError::invalid_input(smallest.refusal);
}

// One normal deviate from two uniforms (the cosine branch of Box-Muller), with
// u1 clamped into [1e-12, 1] so the logarithm stays finite.
inline double box_muller(double u1, double u2) {
    u1 = min_num(max_num(u1, 1e-12), 1.0);
    return std::sqrt(-2.0 * std::log(u1)) * std::cos(6.283185307179586 * u2);
}

}  // namespace hivekit
