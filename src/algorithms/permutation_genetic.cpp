#include "algorithms/permutation_genetic.hpp"

namespace hivekit {

Outcome run_permutation_genetic(Problem&, const PermutationGeneticParams&, Seed) { throw NotImplementedYet(); }

}  // namespace hivekit
