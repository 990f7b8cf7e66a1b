// The shared first step of the continuous optimiser bodies.
#pragma once

#include <cstdint>
#include <optional>
#include <variant>
#include <vector>

#include "core/bounds.hpp"
#include "core/error.hpp"
#include "core/problem.hpp"
#include "core/random_source.hpp"

namespace hivekit {

using Seed = std::optional<std::uint64_t>;

struct SearchSetup {
    std::size_t dimension;
    RandomSource rng;
    std::vector<double> span;  // upper[i] - lower[i]
};

// Seeds from the 64-bit seed when given, otherwise from system entropy.
RandomSource make_random_source(Seed seed);

// Rejects an empty box with `empty_box_message` (InvalidInput) and a problem of
// another dimension (DimensionMismatch), then seeds the generator and computes
// the widths of the box.
std::variant<SearchSetup, OptimizerError> prepare_search(
    const Bounds& bounds, const Problem& problem, Seed seed,
    const char* empty_box_message = "Problem must have at least one dimension");

}  // namespace hivekit
