#include "core/search.hpp"

#include <string>

namespace hivekit {

RandomSource make_random_source(Seed seed) {
    return seed ? RandomSource::from_seed_u64(*seed) : RandomSource::from_entropy();
}

std::variant<SearchSetup, OptimizerError> prepare_search(const Bounds& bounds, const Problem& problem, Seed seed,
                                                         const char* empty_box_message) {
    std::size_t d = bounds.dimension();
    if (d == 0) return OptimizerError::invalid_input(empty_box_message);
    if (problem.dimension() != d) {
        return OptimizerError::dimension_mismatch("Problem has " + std::to_string(problem.dimension()) +
                                                  " dimensions but bounds have " + std::to_string(d));
    }
    SearchSetup setup{d, make_random_source(seed), std::vector<double>(d)};
    for (std::size_t i = 0; i < d; ++i) setup.span[i] = bounds.upper()[i] - bounds.lower()[i];
    return setup;
}

}  // namespace hivekit
