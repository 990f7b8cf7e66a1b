#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "algorithms/result.hpp"
#include "core/bounds.hpp"
#include "core/problem.hpp"

namespace hivekit {

struct CmaEsParams {
    std::uint64_t n_individuals = 20;
    std::uint64_t n_iterations = 100;
    double sigma = 0.5;
};

// Recombination weights of the mu best samples, largest first, summing to 1:
// ln(mu + 0.5) - ln(i + 1) (floored at 0) divided by their sum (floored at 1e-12).
std::vector<double> cma_es_weights(std::size_t mu);

// The smallest n_individuals run_cma_es accepts.
inline constexpr SizeLimit kCmaEsSmallest{4, "n_individuals must be at least 4 for CMA-ES"};

// Objective calls of run_cma_es.
Evaluations cma_es_evaluations(const CmaEsParams& params);

Outcome run_cma_es(Problem& problem, const Bounds& bounds, const CmaEsParams& params, Seed seed);

}  // namespace hivekit
