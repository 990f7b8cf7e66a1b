#include "algorithms/simulated_annealing.hpp"

namespace hivekit {

Outcome run_simulated_annealing(Problem&, const Bounds&, const SimulatedAnnealingParams&, Seed) { throw NotImplementedYet(); }

}  // namespace hivekit
