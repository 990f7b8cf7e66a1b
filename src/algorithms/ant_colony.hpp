#pragma once

#include <cstdint>

#include "algorithms/result.hpp"
#include "core/bounds.hpp"
#include "core/problem.hpp"

namespace hivekit {

enum class AntVariant : std::uint8_t { Basic = 0, Acs = 1, Elitist = 2, Mmas = 3 };

struct AntColonyParams {
    std::uint64_t n_ants = 50;
    std::uint64_t n_iterations = 100;
    double alpha = 1.0;
    double beta = 2.0;
    double rho = 0.5;
    double q = 1.0;
    bool use_two_opt = true;
    AntVariant variant = AntVariant::Basic;
    double q0 = 0.9;
    double elitist_weight = 2.0;
    double tau_min = 0.0001;
    double tau_max = 10.0;
};

// Objective calls of run_ant_colony.
Evaluations ant_colony_evaluations(const AntColonyParams& params);

Outcome run_ant_colony(Problem& problem, const AntColonyParams& params, Seed seed);

}  // namespace hivekit
