#include "algorithms/pareto.hpp"

#include "core/error.hpp"

namespace hivekit {

double hypervolume_2d(const std::vector<std::vector<double>>&) { throw NotImplementedYet(); }

}  // namespace hivekit
