#pragma once

#include <cstdint>

#include "algorithms/result.hpp"
#include "core/bounds.hpp"
#include "core/problem.hpp"

namespace hivekit {

struct CuckooSearchParams {
    std::uint64_t n_nests = 25;
    std::uint64_t n_iterations = 100;
    double pa = 0.25;
    double alpha = 0.01;
    double levy_scale = 1.0;
};

// Nests rebuilt per iteration: ceil(pa * n_nests) saturated into the
// unsigned range, at least 1 and at most n_nests.
std::uint64_t cuckoo_abandon_count(double pa, std::uint64_t n_nests);

// The smallest n_nests run_cuckoo_search accepts.
inline constexpr SizeLimit kCuckooSearchSmallest{2, "n_nests must be at least 2 for cuckoo search"};

// Objective calls of run_cuckoo_search.
Evaluations cuckoo_search_evaluations(const CuckooSearchParams& params);

Outcome run_cuckoo_search(Problem& problem, const Bounds& bounds, const CuckooSearchParams& params, Seed seed);

}  // namespace hivekit
