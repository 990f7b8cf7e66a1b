#include "algorithms/registry.hpp"

#include <array>
#include <charconv>
#include <cstring>
#include <type_traits>
#include <utility>
#include <variant>

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

namespace hivekit {

namespace {

// One hyperparameter: its Python name and the field it fills. The field's
// type decides the kind (uint64 size, double real, bool flag, variant code).
template <class P>
struct Field {
    using Params = P;
    const char* name;
    std::variant<std::uint64_t P::*, double P::*, bool P::*, AntVariant P::*> member;
};

template <class P, std::size_t N>
using Fields = std::array<Field<P>, N>;

// Number of members of an aggregate: the largest n for which P{x1, ..., xn}
// compiles with placeholders convertible to anything.
struct AnyValue {
    template <class T>
    constexpr operator T() const noexcept;
};
template <class P, std::size_t... I>
constexpr bool brace_constructible(std::index_sequence<I...>) {
    return requires { P{(void(I), AnyValue{})...}; };
}
template <class P, std::size_t N = 0>
constexpr std::size_t member_count() {
    if constexpr (brace_constructible<P>(std::make_index_sequence<N + 1>{}))
        return member_count<P, N + 1>();
    else
        return N;
}

// Every member of the struct bound exactly once, under distinct names.
template <class P, std::size_t N>
constexpr bool binds_every_member_once(const Fields<P, N>& fields) {
    if (member_count<P>() != N) return false;
    for (std::size_t i = 0; i < N; ++i)
        for (std::size_t k = 0; k < i; ++k) {
            if (fields[i].member == fields[k].member) return false;
            if (std::string_view(fields[i].name) == fields[k].name) return false;
        }
    return true;
}

constexpr ParamSpec spec_of(const char* name, std::uint64_t value) { return {name, ParamKind::Size, {value, 0.0}}; }
constexpr ParamSpec spec_of(const char* name, double value) { return {name, ParamKind::Real, {0, value}}; }
constexpr ParamSpec spec_of(const char* name, bool value) { return {name, ParamKind::Flag, {value ? 1u : 0u, 0.0}}; }
constexpr ParamSpec spec_of(const char* name, AntVariant value) {
    return {name, ParamKind::Variant, {static_cast<std::uint64_t>(value), 0.0}};
}

template <class P, std::size_t N>
constexpr std::array<ParamSpec, N> specs_of(const Fields<P, N>& fields) {
    const P defaults{};
    std::array<ParamSpec, N> out{};
    for (std::size_t i = 0; i < N; ++i)
        out[i] = std::visit([&](auto member) { return spec_of(fields[i].name, defaults.*member); }, fields[i].member);
    return out;
}

template <const auto& F>
inline constexpr auto kSpecs = specs_of(F);

void store(std::uint64_t& field, ParamValue v) { field = v.size; }
void store(double& field, ParamValue v) { field = v.real; }
void store(bool& field, ParamValue v) { field = v.size != 0; }
void store(AntVariant& field, ParamValue v) { field = static_cast<AntVariant>(v.size); }

// The class's parameter struct, filled field by field.
template <const auto& F>
auto params_of(std::span<const ParamValue> values) {
    typename std::remove_cvref_t<decltype(F)>::value_type::Params params{};
    for (std::size_t i = 0; i < F.size(); ++i)
        std::visit([&](auto member) { store(params.*member, values[i]); }, F[i].member);
    return params;
}

template <const auto& F, auto Run>
Outcome run_with(const FitCall& call) {
    const auto params = params_of<F>(call.params);
    if constexpr (std::is_invocable_v<decltype(Run), Problem&, const Bounds&, decltype(params), Seed>)
        return Run(call.problem, *call.bounds, params, call.seed);
    else
        return Run(call.problem, params, call.seed);
}

template <const auto& F, auto Count>
Evaluations count_with(std::span<const ParamValue> values) {
    return Count(params_of<F>(values));
}

// One class: its fields, its body, the body's count of objective calls, and
// the body's smallest population if it has one.
template <const auto& F, auto Run, auto Count>
constexpr ClassSpec entry(Surface surface, SizeLimit smallest = {}) {
    static_assert(F.size() <= kMaxParams, "raise kMaxParams: a class has more hyperparameters");
    static_assert(binds_every_member_once(F), "bind every field of the parameter struct exactly once");
    return {surface, kSpecs<F>, &run_with<F, Run>, &count_with<F, Count>, smallest};
}

template <class P, std::size_t N>
constexpr Fields<P, N> fields(const Field<P> (&list)[N]) {
    return std::to_array(list);
}

using AC = AntColonyParams;
constexpr auto kAntColony = fields<AC>({
    {"n_ants", &AC::n_ants}, {"n_iterations", &AC::n_iterations}, {"alpha", &AC::alpha}, {"beta", &AC::beta},
    {"rho", &AC::rho}, {"q", &AC::q}, {"use_two_opt", &AC::use_two_opt}, {"variant", &AC::variant},
    {"q0", &AC::q0}, {"elitist_weight", &AC::elitist_weight}, {"tau_min", &AC::tau_min},
    {"tau_max", &AC::tau_max},
});
using PS = ParticleSwarmParams;
constexpr auto kParticleSwarm = fields<PS>({
    {"n_particles", &PS::n_particles}, {"n_iterations", &PS::n_iterations}, {"w", &PS::w}, {"c1", &PS::c1},
    {"c2", &PS::c2},
});
using BC = BeeColonyParams;
constexpr auto kBeeColony = fields<BC>({{"n_bees", &BC::n_bees}, {"n_iterations", &BC::n_iterations},
                                        {"limit", &BC::limit}});
using GW = GreyWolfParams;
constexpr auto kGreyWolf = fields<GW>({{"n_wolves", &GW::n_wolves}, {"n_iterations", &GW::n_iterations}});
using FF = FireflyParams;
constexpr auto kFirefly = fields<FF>({
    {"n_fireflies", &FF::n_fireflies}, {"n_iterations", &FF::n_iterations}, {"beta0", &FF::beta0},
    {"gamma", &FF::gamma}, {"alpha", &FF::alpha},
});
using SA = SimulatedAnnealingParams;
constexpr auto kSimulatedAnnealing = fields<SA>({
    {"initial_temperature", &SA::initial_temperature}, {"cooling_rate", &SA::cooling_rate},
    {"step_scale", &SA::step_scale}, {"n_iterations", &SA::n_iterations},
});
using CS = CuckooSearchParams;
constexpr auto kCuckoo = fields<CS>({
    {"n_nests", &CS::n_nests}, {"n_iterations", &CS::n_iterations}, {"pa", &CS::pa}, {"alpha", &CS::alpha},
    {"levy_scale", &CS::levy_scale},
});
using BA = BatAlgorithmParams;
constexpr auto kBat = fields<BA>({
    {"n_bats", &BA::n_bats}, {"n_iterations", &BA::n_iterations}, {"fmin", &BA::fmin}, {"fmax", &BA::fmax},
    {"alpha", &BA::alpha}, {"gamma", &BA::gamma}, {"loudness", &BA::loudness}, {"pulse_rate", &BA::pulse_rate},
});
using GO = GlowwormParams;
constexpr auto kGlowworm = fields<GO>({
    {"n_worms", &GO::n_worms}, {"n_iterations", &GO::n_iterations}, {"luciferin_decay", &GO::luciferin_decay},
    {"luciferin_enhancement", &GO::luciferin_enhancement}, {"step_size", &GO::step_size},
    {"neighborhood_radius", &GO::neighborhood_radius},
});
using BF = BacterialForagingParams;
constexpr auto kBacterial = fields<BF>({
    {"n_bacteria", &BF::n_bacteria}, {"n_iterations", &BF::n_iterations},
    {"n_chemotactic_steps", &BF::n_chemotactic_steps}, {"n_reproduction_steps", &BF::n_reproduction_steps},
    {"elimination_probability", &BF::elimination_probability}, {"step_scale", &BF::step_scale},
});
using DE = DifferentialEvolutionParams;
constexpr auto kDifferential = fields<DE>({
    {"n_individuals", &DE::n_individuals}, {"n_iterations", &DE::n_iterations}, {"f", &DE::f}, {"cr", &DE::cr},
});
using CM = CmaEsParams;
constexpr auto kCmaEs = fields<CM>({{"n_individuals", &CM::n_individuals}, {"n_iterations", &CM::n_iterations},
                                    {"sigma", &CM::sigma}});
using PG = PermutationGeneticParams;
constexpr auto kPermutationGenetic = fields<PG>({
    {"n_individuals", &PG::n_individuals}, {"n_iterations", &PG::n_iterations},
    {"mutation_rate", &PG::mutation_rate}, {"use_two_opt", &PG::use_two_opt},
});
using BP = BinaryParticleSwarmParams;
constexpr auto kBinarySwarm = fields<BP>({
    {"n_particles", &BP::n_particles}, {"n_iterations", &BP::n_iterations}, {"w", &BP::w}, {"c1", &BP::c1},
    {"c2", &BP::c2},
});
using NS = Nsga2Params;
constexpr auto kNsga2 = fields<NS>({
    {"n_individuals", &NS::n_individuals}, {"n_iterations", &NS::n_iterations},
    {"crossover_rate", &NS::crossover_rate}, {"mutation_rate", &NS::mutation_rate},
    {"mutation_scale", &NS::mutation_scale}, {"archive_size", &NS::archive_size},
});
using MO = MopsoParams;
constexpr auto kMopso = fields<MO>({
    {"n_particles", &MO::n_particles}, {"n_iterations", &MO::n_iterations}, {"w", &MO::w}, {"c1", &MO::c1},
    {"c2", &MO::c2}, {"mutation_scale", &MO::mutation_scale}, {"archive_size", &MO::archive_size},
});

using enum Family;
using enum FitInput;
using enum Probe;

// Registration order of the module.
constexpr ClassSpec kRegistry[] = {
    entry<kAntColony, run_ant_colony, ant_colony_evaluations>(
        {.name = "AntColony",
         .docstring = "Ant Colony Optimization for discrete problems (e.g. TSP).\n\n"
                      "Exposed to Python as `hivekit._hivekit.AntColony`.",
         .family = BestOnly, .input = Tour, .probe = None, .repr_params = 6, .documented_methods = true,
         .index_solution = true}),
    entry<kParticleSwarm, run_particle_swarm, particle_swarm_evaluations>(
        {.name = "ParticleSwarm",
         .docstring = "Particle Swarm Optimization for continuous minimization.\n\n"
                      "Exposed to Python as `hivekit._hivekit.ParticleSwarm`.",
         .family = BestOnly, .repr_params = 5, .documented_methods = true}),
    entry<kBeeColony, run_bee_colony, bee_colony_evaluations>(
        {.name = "BeeColony",
         .docstring = "Artificial Bee Colony for continuous minimization.\n\n"
                      "Exposed to Python as `hivekit._hivekit.BeeColony`.",
         .family = BestOnly, .repr_params = 3, .documented_methods = true}),
    entry<kGreyWolf, run_grey_wolf, grey_wolf_evaluations>(
        {.name = "GreyWolfOptimizer", .docstring = "Grey Wolf Optimizer for continuous minimization."},
        kGreyWolfSmallest),
    entry<kFirefly, run_firefly, firefly_evaluations>(
        {.name = "FireflyOptimizer", .docstring = "Firefly algorithm for continuous minimization."}, kFireflySmallest),
    entry<kSimulatedAnnealing, run_simulated_annealing, simulated_annealing_evaluations>(
        {.name = "SimulatedAnnealing", .docstring = "Simulated annealing for continuous minimization."}),
    entry<kCuckoo, run_cuckoo_search, cuckoo_search_evaluations>(
        {.name = "CuckooSearch", .docstring = "Cuckoo search for continuous minimization."}, kCuckooSearchSmallest),
    entry<kBat, run_bat_algorithm, bat_algorithm_evaluations>(
        {.name = "BatAlgorithm", .docstring = "Bat algorithm for continuous minimization."}, kBatAlgorithmSmallest),
    entry<kGlowworm, run_glowworm, glowworm_evaluations>(
        {.name = "GlowwormOptimizer", .docstring = "Glowworm swarm optimizer for continuous minimization."},
        kGlowwormSmallest),
    entry<kBacterial, run_bacterial_foraging, bacterial_foraging_evaluations>(
        {.name = "BacterialForagingOptimizer",
         .docstring = "Bacterial foraging optimizer for continuous minimization."},
        kBacterialForagingSmallest),
    entry<kDifferential, run_differential_evolution, differential_evolution_evaluations>(
        {.name = "DifferentialEvolution", .docstring = "Differential evolution for continuous minimization."},
        kDifferentialEvolutionSmallest),
    entry<kCmaEs, run_cma_es, cma_es_evaluations>(
        {.name = "CmaEsOptimizer", .docstring = "CMA-ES-style optimizer for continuous minimization."},
        kCmaEsSmallest),
    entry<kPermutationGenetic, run_permutation_genetic, permutation_genetic_evaluations>(
        {.name = "PermutationGeneticOptimizer",
         .docstring = "Permutation genetic optimizer for TSP-like discrete problems.",
         .input = Tour, .probe = None, .index_solution = true},
        kPermutationGeneticSmallest),
    entry<kBinarySwarm, run_binary_particle_swarm, binary_particle_swarm_evaluations>(
        {.name = "BinaryParticleSwarm", .docstring = "Binary PSO for bit-vector objectives.", .probe = Zeros}),
    entry<kNsga2, run_nsga2, nsga2_evaluations>({.name = "Nsga2Optimizer",
                                                 .docstring = "NSGA-II-style multi-objective optimizer.",
                                                 .family = ParetoArchive,
                                                 .probe = CentreObjectives}),
    entry<kMopso, run_mopso, mopso_evaluations>({.name = "MopsoOptimizer",
                                                 .docstring = "Multi-objective PSO.",
                                                 .family = ParetoArchive,
                                                 .probe = CentreObjectives}),
};

}  // namespace

std::span<const ClassSpec> registry() { return kRegistry; }

std::string signature_default(const ParamSpec& param) {
    switch (param.kind) {
        case ParamKind::Size:
            return std::to_string(param.fallback.size);
        case ParamKind::Flag:
            return param.fallback.size ? "True" : "False";
        case ParamKind::Variant:
            return std::string("\"") + kVariantNames[param.fallback.size] + "\"";
        case ParamKind::Real:
            break;
    }
    // The shorter of the fixed and exponent forms, as a literal would be
    // written: a whole number keeps ".0" and the exponent drops its padding
    // (1e-04 reads 1e-4).
    char text[64];
    auto [end, ec] = std::to_chars(text, text + sizeof text, param.fallback.real);
    std::string out(text, ec == std::errc{} ? end : text);
    const auto e = out.find('e');
    if (e == std::string::npos) {
        if (out.find_first_of(".ni") == std::string::npos) out += ".0";
        return out;
    }
    std::size_t digits = e + 1;
    if (digits < out.size() && (out[digits] == '-' || out[digits] == '+')) ++digits;
    while (digits + 1 < out.size() && out[digits] == '0') out.erase(digits, 1);
    return out;
}

}  // namespace hivekit
