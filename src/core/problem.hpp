// The interface through which an optimiser evaluates candidates.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>
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

    // Called by long computations that make no evaluations (tour searches) at
    // least every few milliseconds; may throw EvaluationAborted.
    virtual void check_interrupt() {}
};

}  // namespace hivekit
