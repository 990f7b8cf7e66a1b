#include "algorithms/simulated_annealing.hpp"

#include <cmath>
#include <vector>

#include "algorithms/common.hpp"
#include "core/numeric.hpp"

namespace hivekit {

// The start and one neighbour per iteration.
Evaluations simulated_annealing_evaluations(const SimulatedAnnealingParams& params) {
    return count_of(1, params.n_iterations, 1);
}

Outcome run_simulated_annealing(Problem& problem, const Bounds& bounds, const SimulatedAnnealingParams& params,
                                Seed seed) {
    auto prepared = prepare_search(bounds, problem, seed);
    if (auto* error = std::get_if<OptimizerError>(&prepared)) return *error;
    auto& [d, rng, span] = std::get<SearchSetup>(prepared);

    std::vector<double> current(d), candidate(d);
    RunResult result;
    result.history.reserve(history_capacity(params.n_iterations));

    double current_value;
    WorkMeter meter(problem);
    BestRecord best = start_population(problem, current, {&current_value, 1}, bounds, span, rng, meter);

    double temperature = params.initial_temperature;
    const double step_scale = params.step_scale;
    for (std::uint64_t k = 0; k < params.n_iterations; ++k) {
        meter.spend(d);
        for (std::size_t j = 0; j < d; ++j) {
            const double u = rng.uniform();
            candidate[j] = current[j] + ((2.0 * u - 1.0) * step_scale) * span[j];
        }
        bounds.clip(candidate);
        const double f = problem.evaluate(candidate);
        const double delta = f - current_value;

        // Improving and equal moves are free. A walker sitting on NaN takes
        // any number, also without a draw, so it is not stuck where it began;
        // every other move (a NaN one included) costs one draw.
        bool accept;
        if (delta <= 0.0 || (current_value != current_value && f == f))
            accept = true;
        else
            accept = rng.uniform() < std::exp(-delta / max_num(temperature, 1e-12));
        if (accept) {
            current.swap(candidate);
            current_value = f;
        }
        best.offer(current, current_value);
        result.history.push_back(best.value);
        // Repeated multiplication, not a power: the schedule depends on it bit for bit.
        temperature = temperature * params.cooling_rate;
    }

    result.population.push_back(std::move(current));
    std::move(best).store_in(result);
    return result;
}

}  // namespace hivekit
