#include "algorithms/differential_evolution.hpp"

namespace hivekit {

Outcome run_differential_evolution(Problem&, const Bounds&, const DifferentialEvolutionParams&, Seed) { throw NotImplementedYet(); }

}  // namespace hivekit
