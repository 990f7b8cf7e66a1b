#include "algorithms/cuckoo_search.hpp"

namespace hivekit {

Outcome run_cuckoo_search(Problem&, const Bounds&, const CuckooSearchParams&, Seed) { throw NotImplementedYet(); }

}  // namespace hivekit
