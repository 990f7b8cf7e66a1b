#pragma once

#include <cstdint>

#include "algorithms/result.hpp"
#include "core/bounds.hpp"
#include "core/problem.hpp"

namespace hivekit {

struct CmaEsParams {
    std::uint64_t n_individuals = 20;
    std::uint64_t n_iterations = 100;
    double sigma = 0.5;
};

Outcome run_cma_es(Problem& problem, const Bounds& bounds, const CmaEsParams& params, Seed seed);

}  // namespace hivekit
