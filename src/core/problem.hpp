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
