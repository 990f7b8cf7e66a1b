// Pareto machinery shared by the multi-objective optimisers.
#pragma once

#include <vector>

namespace hivekit {

// Area dominated by the objective vectors (first two values of each) inside
// the box bounded by the reference point (1, 1), for minimisation.
double hypervolume_2d(const std::vector<std::vector<double>>& objectives);

}  // namespace hivekit
