// What an optimiser body hands back.
#pragma once

#include <cstdint>
#include <optional>
#include <variant>
#include <vector>

#include "core/error.hpp"
#include "core/search.hpp"

namespace hivekit {

struct RunResult {
    std::optional<double> best_value;
    std::optional<std::vector<double>> best_solution;
    std::vector<double> history;
    std::vector<std::vector<double>> population;
    // Pareto archive of the multi-objective optimisers (positions and their
    // objective vectors, parallel); empty for the others.
    std::vector<std::vector<double>> archive_positions;
    std::vector<std::vector<double>> archive_objectives;
};

using Outcome = std::variant<RunResult, OptimizerError>;

// The smallest population a body accepts (its first parameter; 0 when any
// size runs) and its refusal of one below that.
struct SizeLimit {
    std::uint64_t minimum = 0;
    const char* refusal = nullptr;
};

// The objective calls of one run, the probe call of fit excluded; none where
// the values seen decide, or where the count would pass 2^64 - 1. A size
// below the smallest one makes no call.
using Evaluations = std::optional<std::uint64_t>;

// a * b + c for such counts.
constexpr Evaluations count_of(Evaluations a, Evaluations b, Evaluations c = 0) {
    std::uint64_t product = 0, sum = 0;
    if (!a || !b || !c || __builtin_mul_overflow(*a, *b, &product) || __builtin_add_overflow(product, *c, &sum))
        return std::nullopt;
    return sum;
}

}  // namespace hivekit
