// Shared by the continuous and multi-objective optimiser tests: objectives
// that record every position an optimiser evaluates, and the box, objective
// and failure helpers those tests have in common.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <new>
#include <span>
#include <stdexcept>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "algorithms/result.hpp"
#include "core/bounds.hpp"
#include "core/error.hpp"
#include "core/problem.hpp"

namespace hivekit::test_support {

inline constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
inline constexpr double kInf = std::numeric_limits<double>::infinity();

using Rows = std::vector<std::vector<double>>;

// What both recording objectives share: the positions in call order, and an
// evaluation number at which the run is aborted.
class RecordingProblem : public Problem {
public:
    std::size_t dimension() const override { return dimension_; }
    bool is_discrete() const override { return false; }
    std::string_view name() const override { return "recorded"; }
    const DistanceMatrix* distance_matrix() const override { return nullptr; }

    // The positions of evaluations `from` to `to - 1`, counted from 0.
    Rows seen_rows(std::size_t from, std::size_t to) const {
        return {seen.begin() + static_cast<std::ptrdiff_t>(from), seen.begin() + static_cast<std::ptrdiff_t>(to)};
    }

    Rows seen;
    // The evaluation numbered abort_at throws EvaluationAborted instead of
    // being recorded, so `seen` keeps exactly the evaluations before it.
    std::size_t abort_at = SIZE_MAX;

protected:
    explicit RecordingProblem(std::size_t dimension) : dimension_(dimension) {}

    void record(std::span<const double> x) {
        if (seen.size() == abort_at) throw EvaluationAborted();
        seen.emplace_back(x.begin(), x.end());
    }

private:
    std::size_t dimension_;
};

// A single objective given as a function of the position, or of the call
// number (counted from 0) and the position. The position is recorded before
// the function runs, so a function that throws leaves its position in `seen`
// and no entry in `values`.
class Recorded final : public RecordingProblem {
public:
    using Function = std::function<double(std::span<const double>)>;
    using CountedFunction = std::function<double(std::size_t, std::span<const double>)>;

    Recorded(std::size_t dimension, Function f)
        : Recorded(dimension, CountedFunction([f = std::move(f)](std::size_t, std::span<const double> x) {
              return f(x);
          })) {}
    Recorded(std::size_t dimension, CountedFunction f) : RecordingProblem(dimension), f_(std::move(f)) {}

    double evaluate(std::span<const double> x) override {
        record(x);
        values.push_back(f_(seen.size() - 1, x));
        return values.back();
    }

    std::vector<double> values;

private:
    CountedFunction f_;
};

// An objective vector given as a function of the position, for the
// multi-objective optimisers; a single evaluation answers its first entry.
class RecordedObjectives final : public RecordingProblem {
public:
    using Function = std::function<std::vector<double>(std::span<const double>)>;

    RecordedObjectives(std::size_t dimension, Function f) : RecordingProblem(dimension), f_(std::move(f)) {}

    double evaluate(std::span<const double> x) override {
        std::vector<double> out;
        evaluate_objectives(x, out);
        return out.at(0);
    }
    void evaluate_objectives(std::span<const double> x, std::vector<double>& out) override {
        record(x);
        out = f_(x);
        objectives.push_back(out);
    }

    Rows objectives;

private:
    Function f_;
};

inline double sphere(std::span<const double> x) {
    double s = 0.0;
    for (double v : x) s += v * v;
    return s;
}

// The box between valid limits.
inline Bounds box(std::vector<double> lower, std::vector<double> upper) {
    return std::get<Bounds>(Bounds::make(std::move(lower), std::move(upper)));
}

// Whether `run` fails the way an impossible allocation does. Any other
// exception passes through.
template <class Run>
bool allocation_fails(Run&& run) {
    try {
        std::forward<Run>(run)();
    } catch (const std::bad_alloc&) {
        return true;
    } catch (const std::length_error&) {
        return true;
    }
    return false;
}

// The sphere, except that its first evaluation gives NaN.
inline auto sphere_after_one_nan() {
    return [calls = std::size_t{0}](std::span<const double> x) mutable { return calls++ == 0 ? kNaN : sphere(x); };
}

// Checks shared by the optimiser tests on a run's result.

// One history entry per iteration, never rising, ending at the best value,
// which is the sphere value of the best position.
inline void expect_history_ends_at_sphere_best(const RunResult& r, std::size_t iterations) {
    ASSERT_EQ(r.history.size(), iterations);
    for (std::size_t t = 1; t < r.history.size(); ++t) EXPECT_LE(r.history[t], r.history[t - 1]);
    EXPECT_EQ(r.history.back(), *r.best_value);
    EXPECT_EQ(sphere(*r.best_solution), *r.best_value);
}

// Every evaluated position lies in the box, and at least one on its boundary
// (so positions that left the box really were clipped back).
inline void expect_clipped_into(const Bounds& b, const Rows& seen) {
    bool on_face = false;
    for (const auto& x : seen) {
        for (std::size_t j = 0; j < x.size(); ++j) {
            EXPECT_GE(x[j], b.lower()[j]);
            EXPECT_LE(x[j], b.upper()[j]);
            on_face = on_face || x[j] == b.lower()[j] || x[j] == b.upper()[j];
        }
    }
    EXPECT_TRUE(on_face);
}

// Every row of the final population is a position that was evaluated.
inline void expect_population_was_evaluated(const RunResult& r, const Rows& seen) {
    for (const auto& x : r.population) EXPECT_NE(std::find(seen.begin(), seen.end(), x), seen.end());
}

// Neither the best value nor any history entry is NaN.
inline void expect_no_nan_best(const RunResult& r) {
    EXPECT_FALSE(std::isnan(*r.best_value));
    for (double h : r.history) EXPECT_FALSE(std::isnan(h));
}

}  // namespace hivekit::test_support
