#include "algorithms/cma_es.hpp"

namespace hivekit {

Outcome run_cma_es(Problem&, const Bounds&, const CmaEsParams&, Seed) { throw NotImplementedYet(); }

}  // namespace hivekit
