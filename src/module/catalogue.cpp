#include "module/catalogue.hpp"

#include <array>

#include "algorithms/ant_colony.hpp"
#include "algorithms/bacterial_foraging.hpp"
#include "algorithms/bat_algorithm.hpp"
#include "algorithms/bee_colony.hpp"
#include "algorithms/binary_particle_swarm.hpp"
#include "algorithms/cma_es.hpp"
#include "algorithms/cuckoo_search.hpp"
#include "algorithms/differential_evolution.hpp"
#include "algorithms/firefly.hpp"
#include "algorithms/glowworm.hpp"
#include "algorithms/grey_wolf.hpp"
#include "algorithms/mopso.hpp"
#include "algorithms/nsga2.hpp"
#include "algorithms/particle_swarm.hpp"
#include "algorithms/permutation_genetic.hpp"
#include "algorithms/simulated_annealing.hpp"

namespace hivekit::py {

namespace {

constexpr ParamSpec size(const char* name, std::uint64_t value, const char* text) {
    return {name, ParamKind::Size, {value, 0.0}, text};
}
constexpr ParamSpec real(const char* name, double value, const char* text) {
    return {name, ParamKind::Real, {0, value}, text};
}

// Reads the stored parameters in table order.
class Params {
public:
    explicit Params(const ParamValue* values) : values_(values) {}
    std::uint64_t size() { return values_[next_++].size; }
    double real() { return values_[next_++].real; }
    bool flag() { return values_[next_++].size != 0; }
    AntVariant variant() { return static_cast<AntVariant>(values_[next_++].size); }

private:
    const ParamValue* values_;
    std::size_t next_ = 0;
};

constexpr ParamSpec kAntColony[] = {
    size("n_ants", 50, "50"), size("n_iterations", 100, "100"), real("alpha", 1.0, "1.0"),
    real("beta", 2.0, "2.0"), real("rho", 0.5, "0.5"), real("q", 1.0, "1.0"),
    {"use_two_opt", ParamKind::Flag, {1, 0.0}, "True"}, {"variant", ParamKind::Variant, {0, 0.0}, "\"basic\""},
    real("q0", 0.9, "0.9"), real("elitist_weight", 2.0, "2.0"), real("tau_min", 1e-4, "1e-4"),
    real("tau_max", 10.0, "10.0"),
};
constexpr ParamSpec kParticleSwarm[] = {
    size("n_particles", 30, "30"), size("n_iterations", 100, "100"), real("w", 0.9, "0.9"),
    real("c1", 2.0, "2.0"), real("c2", 2.0, "2.0"),
};
constexpr ParamSpec kBeeColony[] = {
    size("n_bees", 50, "50"), size("n_iterations", 100, "100"), size("limit", 10, "10"),
};
constexpr ParamSpec kGreyWolf[] = {size("n_wolves", 30, "30"), size("n_iterations", 100, "100")};
constexpr ParamSpec kFirefly[] = {
    size("n_fireflies", 30, "30"), size("n_iterations", 100, "100"), real("beta0", 1.0, "1.0"),
    real("gamma", 1.0, "1.0"), real("alpha", 0.2, "0.2"),
};
constexpr ParamSpec kSimulatedAnnealing[] = {
    real("initial_temperature", 10.0, "10.0"), real("cooling_rate", 0.95, "0.95"),
    real("step_scale", 0.1, "0.1"), size("n_iterations", 100, "100"),
};
constexpr ParamSpec kCuckoo[] = {
    size("n_nests", 25, "25"), size("n_iterations", 100, "100"), real("pa", 0.25, "0.25"),
    real("alpha", 0.01, "0.01"), real("levy_scale", 1.0, "1.0"),
};
constexpr ParamSpec kBat[] = {
    size("n_bats", 30, "30"), size("n_iterations", 100, "100"), real("fmin", 0.0, "0.0"),
    real("fmax", 2.0, "2.0"), real("alpha", 0.9, "0.9"), real("gamma", 0.9, "0.9"),
    real("loudness", 1.0, "1.0"), real("pulse_rate", 0.5, "0.5"),
};
constexpr ParamSpec kGlowworm[] = {
    size("n_worms", 30, "30"), size("n_iterations", 100, "100"), real("luciferin_decay", 0.4, "0.4"),
    real("luciferin_enhancement", 0.6, "0.6"), real("step_size", 0.1, "0.1"),
    real("neighborhood_radius", 1.0, "1.0"),
};
constexpr ParamSpec kBacterial[] = {
    size("n_bacteria", 30, "30"), size("n_iterations", 100, "100"), size("n_chemotactic_steps", 10, "10"),
    size("n_reproduction_steps", 4, "4"), real("elimination_probability", 0.25, "0.25"),
    real("step_scale", 0.1, "0.1"),
};
constexpr ParamSpec kDifferential[] = {
    size("n_individuals", 40, "40"), size("n_iterations", 100, "100"), real("f", 0.8, "0.8"),
    real("cr", 0.9, "0.9"),
};
constexpr ParamSpec kCmaEs[] = {
    size("n_individuals", 20, "20"), size("n_iterations", 100, "100"), real("sigma", 0.5, "0.5"),
};
constexpr ParamSpec kPermutationGenetic[] = {
    size("n_individuals", 40, "40"), size("n_iterations", 100, "100"), real("mutation_rate", 0.1, "0.1"),
    {"use_two_opt", ParamKind::Flag, {1, 0.0}, "True"},
};
constexpr ParamSpec kBinarySwarm[] = {
    size("n_particles", 30, "30"), size("n_iterations", 100, "100"), real("w", 0.7, "0.7"),
    real("c1", 1.5, "1.5"), real("c2", 1.5, "1.5"),
};
constexpr ParamSpec kNsga2[] = {
    size("n_individuals", 40, "40"), size("n_iterations", 100, "100"), real("crossover_rate", 0.9, "0.9"),
    real("mutation_rate", 0.1, "0.1"), real("mutation_scale", 0.1, "0.1"), size("archive_size", 50, "50"),
};
constexpr ParamSpec kMopso[] = {
    size("n_particles", 30, "30"), size("n_iterations", 100, "100"), real("w", 0.7, "0.7"),
    real("c1", 1.5, "1.5"), real("c2", 1.5, "1.5"), real("mutation_scale", 0.1, "0.1"),
    size("archive_size", 50, "50"),
};

Outcome ant_colony(const FitCall& c) {
    Params p(c.params);
    AntColonyParams h{p.size(), p.size(), p.real(), p.real(), p.real(), p.real(),
                      p.flag(), p.variant(), p.real(), p.real(), p.real(), p.real()};
    return run_ant_colony(c.problem, h, c.seed);
}
Outcome particle_swarm(const FitCall& c) {
    Params p(c.params);
    ParticleSwarmParams h{p.size(), p.size(), p.real(), p.real(), p.real()};
    return run_particle_swarm(c.problem, *c.bounds, h, c.seed);
}
Outcome bee_colony(const FitCall& c) {
    Params p(c.params);
    BeeColonyParams h{p.size(), p.size(), p.size()};
    return run_bee_colony(c.problem, *c.bounds, h, c.seed);
}
Outcome grey_wolf(const FitCall& c) {
    Params p(c.params);
    GreyWolfParams h{p.size(), p.size()};
    return run_grey_wolf(c.problem, *c.bounds, h, c.seed);
}
Outcome firefly(const FitCall& c) {
    Params p(c.params);
    FireflyParams h{p.size(), p.size(), p.real(), p.real(), p.real()};
    return run_firefly(c.problem, *c.bounds, h, c.seed);
}
Outcome simulated_annealing(const FitCall& c) {
    Params p(c.params);
    SimulatedAnnealingParams h{p.real(), p.real(), p.real(), p.size()};
    return run_simulated_annealing(c.problem, *c.bounds, h, c.seed);
}
Outcome cuckoo_search(const FitCall& c) {
    Params p(c.params);
    CuckooSearchParams h{p.size(), p.size(), p.real(), p.real(), p.real()};
    return run_cuckoo_search(c.problem, *c.bounds, h, c.seed);
}
Outcome bat_algorithm(const FitCall& c) {
    Params p(c.params);
    BatAlgorithmParams h{p.size(), p.size(), p.real(), p.real(), p.real(), p.real(), p.real(), p.real()};
    return run_bat_algorithm(c.problem, *c.bounds, h, c.seed);
}
Outcome glowworm(const FitCall& c) {
    Params p(c.params);
    GlowwormParams h{p.size(), p.size(), p.real(), p.real(), p.real(), p.real()};
    return run_glowworm(c.problem, *c.bounds, h, c.seed);
}
Outcome bacterial_foraging(const FitCall& c) {
    Params p(c.params);
    BacterialForagingParams h{p.size(), p.size(), p.size(), p.size(), p.real(), p.real()};
    return run_bacterial_foraging(c.problem, *c.bounds, h, c.seed);
}
Outcome differential_evolution(const FitCall& c) {
    Params p(c.params);
    DifferentialEvolutionParams h{p.size(), p.size(), p.real(), p.real()};
    return run_differential_evolution(c.problem, *c.bounds, h, c.seed);
}
Outcome cma_es(const FitCall& c) {
    Params p(c.params);
    CmaEsParams h{p.size(), p.size(), p.real()};
    return run_cma_es(c.problem, *c.bounds, h, c.seed);
}
Outcome permutation_genetic(const FitCall& c) {
    Params p(c.params);
    PermutationGeneticParams h{p.size(), p.size(), p.real(), p.flag()};
    return run_permutation_genetic(c.problem, h, c.seed);
}
Outcome binary_particle_swarm(const FitCall& c) {
    Params p(c.params);
    BinaryParticleSwarmParams h{p.size(), p.size(), p.real(), p.real(), p.real()};
    return run_binary_particle_swarm(c.problem, *c.bounds, h, c.seed);
}
Outcome nsga2(const FitCall& c) {
    Params p(c.params);
    Nsga2Params h{p.size(), p.size(), p.real(), p.real(), p.real(), p.size()};
    return run_nsga2(c.problem, *c.bounds, h, c.seed);
}
Outcome mopso(const FitCall& c) {
    Params p(c.params);
    MopsoParams h{p.size(), p.size(), p.real(), p.real(), p.real(), p.real(), p.size()};
    return run_mopso(c.problem, *c.bounds, h, c.seed);
}

using enum Family;
using enum FitInput;
using enum Probe;

// Registration order of the module.
const ClassSpec kCatalogue[] = {
    {"AntColony",
     "Ant Colony Optimization for discrete problems (e.g. TSP).\n\nExposed to Python as `hivekit._hivekit.AntColony`.",
     kAntColony, BestOnly, Tour, None, 6, true, true, ant_colony},
    {"ParticleSwarm",
     "Particle Swarm Optimization for continuous minimization.\n\nExposed to Python as "
     "`hivekit._hivekit.ParticleSwarm`.",
     kParticleSwarm, BestOnly, Box, Centre, 5, true, false, particle_swarm},
    {"BeeColony",
     "Artificial Bee Colony for continuous minimization.\n\nExposed to Python as `hivekit._hivekit.BeeColony`.",
     kBeeColony, BestOnly, Box, Centre, 3, true, false, bee_colony},
    {"GreyWolfOptimizer", "Grey Wolf Optimizer for continuous minimization.", kGreyWolf, Recorded, Box, Centre, 0,
     false, false, grey_wolf},
    {"FireflyOptimizer", "Firefly algorithm for continuous minimization.", kFirefly, Recorded, Box, Centre, 0, false,
     false, firefly},
    {"SimulatedAnnealing", "Simulated annealing for continuous minimization.", kSimulatedAnnealing, Recorded, Box,
     Centre, 0, false, false, simulated_annealing},
    {"CuckooSearch", "Cuckoo search for continuous minimization.", kCuckoo, Recorded, Box, Centre, 0, false, false,
     cuckoo_search},
    {"BatAlgorithm", "Bat algorithm for continuous minimization.", kBat, Recorded, Box, Centre, 0, false, false,
     bat_algorithm},
    {"GlowwormOptimizer", "Glowworm swarm optimizer for continuous minimization.", kGlowworm, Recorded, Box, Centre,
     0, false, false, glowworm},
    {"BacterialForagingOptimizer", "Bacterial foraging optimizer for continuous minimization.", kBacterial, Recorded,
     Box, Centre, 0, false, false, bacterial_foraging},
    {"DifferentialEvolution", "Differential evolution for continuous minimization.", kDifferential, Recorded, Box,
     Centre, 0, false, false, differential_evolution},
    {"CmaEsOptimizer", "CMA-ES-style optimizer for continuous minimization.", kCmaEs, Recorded, Box, Centre, 0, false,
     false, cma_es},
    {"PermutationGeneticOptimizer", "Permutation genetic optimizer for TSP-like discrete problems.",
     kPermutationGenetic, Recorded, Tour, None, 0, false, true, permutation_genetic},
    {"BinaryParticleSwarm", "Binary PSO for bit-vector objectives.", kBinarySwarm, Recorded, Box, Zeros, 0, false,
     false, binary_particle_swarm},
    {"Nsga2Optimizer", "NSGA-II-style multi-objective optimizer.", kNsga2, ParetoArchive, Box, CentreObjectives, 0,
     false, false, nsga2},
    {"MopsoOptimizer", "Multi-objective PSO.", kMopso, ParetoArchive, Box, CentreObjectives, 0, false, false, mopso},
};

}  // namespace

std::span<const ClassSpec> catalogue() { return kCatalogue; }

MethodDocs method_docs(const ClassSpec& entry) {
    if (!entry.documented_methods) return {nullptr, nullptr, nullptr, nullptr};
    if (entry.input == Tour) {
        return {"Fit the colony to a square distance matrix and search for a short tour.",
                "Return the best tour found as a list of city indices.", "Return the length of the best tour found.",
                "Return the algorithm's hyperparameters."};
    }
    return {"Minimize `objective(list[float]) -> float` over the box `[lower, upper]`.",
            "Return the best position found.", "Return the objective value at the best position.", nullptr};
}

}  // namespace hivekit::py
