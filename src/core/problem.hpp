// The interface through which an optimiser evaluates candidates.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "core/distance_matrix.hpp"

namespace hivekit {

class Problem {
public:
    virtual ~Problem() = default;

    // Objective value of a candidate, smaller is better. Never fails: failures
    // of the underlying objective fold into the value (+infinity). It may throw
    // EvaluationAborted to stop the whole run.
    virtual double evaluate(std::span<const double> position) = 0;
    virtual std::size_t dimension() const = 0;
    virtual bool is_discrete() const = 0;
    virtual std::string_view name() const = 0;
    virtual const DistanceMatrix* distance_matrix() const = 0;

    // Objective vector of a candidate for the multi-objective optimisers;
    // a failed evaluation gives the single value +infinity. By default the
    // vector holds evaluate()'s single value.
    virtual void evaluate_objectives(std::span<const double> position, std::vector<double>& out) {
        out.assign(1, evaluate(position));
    }

    // Values of values.size() candidates laid out row by row in `rows`, each
    // rows.size() / values.size() wide: exactly what evaluate() gives for each
    // row in row order. A body hands over only candidates that, with every
    // draw that made them, are fixed before any of their values is read; a
    // problem may then compute the values together or in parallel (a native
    // objective on the engine's threads, a Python objective in one call or
    // through an executor) without changing a bit of the run.
    virtual void evaluate_batch(std::span<const double> rows, std::span<double> values) {
        const std::size_t d = values.empty() ? 0 : rows.size() / values.size();
        for (std::size_t i = 0; i < values.size(); ++i) values[i] = evaluate(rows.subspan(i * d, d));
    }

    // Whether evaluate_batch computes a batch's values together (in one call,
    // or on several threads at once), so that no objective can rely on the
    // order of a batch's rows. Only then may a body hand over candidates in
    // another order than one-at-a-time evaluation calls them.
    virtual bool evaluates_together() const { return false; }

    // Objective vectors of out.size() candidates laid out row by row, as
    // evaluate_objectives() gives them one at a time in row order.
    virtual void evaluate_objectives_batch(std::span<const double> rows, std::span<std::vector<double>> out) {
        const std::size_t d = out.empty() ? 0 : rows.size() / out.size();
        for (std::size_t i = 0; i < out.size(); ++i) evaluate_objectives(rows.subspan(i * d, d), out[i]);
    }

    // Called by the bodies between evaluations, through a WorkMeter or once
    // per individual, about every millisecond of their own work at most; may
    // throw EvaluationAborted to stop the run.
    virtual void check_interrupt() {}
};

// Counts the work a body does and gives its problem a chance to stop the run
// about every millisecond of it. A unit is one step of an inner loop: one
// coordinate moved, drawn, copied or compared, or one pair of individuals
// compared or merged; a step that costs several times more counts several
// units. Counting instead of reading a clock keeps the cost of the test to an
// addition and a branch that is almost never taken. A meter made without a
// problem or a check counts and never asks anyone (tools and tests that
// cannot stop).
class WorkMeter {
public:
    WorkMeter() = default;
    explicit WorkMeter(Problem& problem) : ask_([&problem] { problem.check_interrupt(); }) {}
    explicit WorkMeter(std::function<void()> check) : ask_(std::move(check)) {}

    void spend(std::uint64_t units) {
        work_ += units;
        if (work_ >= kInterval) [[unlikely]]
            ask();
    }

private:
    // Roughly a millisecond of steps that cost one to four nanoseconds each.
    static constexpr std::uint64_t kInterval = std::uint64_t{1} << 18;

    void ask() {
        work_ = 0;
        if (ask_) ask_();
    }

    std::function<void()> ask_;
    std::uint64_t work_ = 0;
};

}  // namespace hivekit
