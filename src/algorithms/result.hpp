// What an optimiser body hands back.
#pragma once

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

}  // namespace hivekit
