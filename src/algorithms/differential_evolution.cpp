#include "algorithms/differential_evolution.hpp"

#include <algorithm>
#include <vector>

#include "algorithms/common.hpp"

namespace hivekit {

// The start, then one trial per individual and iteration.
Evaluations differential_evolution_evaluations(const DifferentialEvolutionParams& params) {
    if (params.n_individuals < kDifferentialEvolutionSmallest.minimum) return 0;
    return count_of(params.n_individuals, params.n_iterations, params.n_individuals);
}

Outcome run_differential_evolution(Problem& problem, const Bounds& bounds, const DifferentialEvolutionParams& params,
                                   Seed seed) {
    auto prepared = prepare_search(bounds, problem, seed);
    if (auto* error = std::get_if<OptimizerError>(&prepared)) return *error;
    // Named references rather than a structured binding: the lambdas below use
    // them, and capturing a structured binding needs Clang 16 or later.
    SearchSetup& setup = std::get<SearchSetup>(prepared);
    const std::size_t d = setup.dimension;
    RandomSource& rng = setup.rng;
    const std::vector<double>& span = setup.span;

    const std::size_t n = params.n_individuals;
    if (auto error = too_few(n, kDifferentialEvolutionSmallest)) return *error;

    // Population row by row: individual i occupies [i * d, (i + 1) * d).
    std::vector<double> x(rows_size(n, d));
    std::vector<double> cost(n);
    // One generation's draws, kept until its trials are built: three partners
    // per individual and whether each coordinate takes the mutant's value.
    std::vector<std::size_t> partners(3 * n);
    std::vector<unsigned char> crossed(x.size());
    // The population as the generation found it, the wave each trial is built
    // in, the individuals by wave (index order within a wave) and the trials
    // of one wave with their values.
    std::vector<double> start(x.size());
    std::vector<std::size_t> wave(n), by_wave(n), wave_end;
    std::vector<double> trials(x.size()), trial_cost(n);
    std::vector<unsigned char> replaced(n);
    wave_end.reserve(n);
    RunResult result;
    result.history.reserve(history_capacity(params.n_iterations));

    WorkMeter meter(problem);
    BestRecord best = start_population(problem, x, cost, bounds, span, rng, meter);

    // One trial at a time, trial i draws its partners and crossover, is built
    // from rows a, b, c and i, evaluated, and replaces row i at once if not
    // worse. Trials are built in waves instead, all those of one wave
    // evaluated as one batch, and the generation ends with exactly the same
    // population and best, because:
    // - no draw of a generation depends on a value: the partners depend on i
    //   and n only (a repeat is drawn again whatever the values), the forced
    //   coordinate on d, and every coordinate draws its crossover uniform. So
    //   all draws are made first, in the one-at-a-time order, giving the same
    //   numbers.
    // - trial i reads row p < i as p's selection left it and row p > i (and
    //   its own row) as the generation found it. A trial's wave comes after
    //   the waves of its partners below it, whose selections are then done;
    //   partners above it are read from the copy of the generation's start.
    // - the selection of i writes only row i and cost[i], which only that
    //   selection reads, so selections may run wave by wave.
    // - nothing in a generation reads the best, so the replacements are
    //   offered to it afterwards, in index order, each row still holding the
    //   trial that replaced it.
    // Waves change the order of the calls within a generation. Where the
    // problem evaluates a batch's rows one by one, that order is the
    // objective's to see, so every trial is a wave of its own, in index order.
    const bool in_waves = problem.evaluates_together();
    const double f = params.f, cr = params.cr;
    for (std::uint64_t g = 0; g < params.n_iterations; ++g) {
        std::size_t waves = 0;
        for (std::size_t i = 0; i < n; ++i) {
            meter.spend(d);
            // Partners are drawn from the other n - 1 indices in ascending
            // order; a repeat is discarded and drawn again, so a, b, c keep
            // the order in which they were first drawn.
            std::size_t* partner = &partners[3 * i];
            std::size_t chosen = 0;
            while (chosen < 3) {
                const std::size_t p = rng.index_below(n - 1);
                const std::size_t other = p < i ? p : p + 1;
                if (std::find(partner, partner + chosen, other) == partner + chosen) partner[chosen++] = other;
            }
            // Every coordinate consumes its crossover draw, the forced one too.
            const std::size_t forced = rng.index_below(d);
            for (std::size_t j = 0; j < d; ++j) {
                const double u = rng.uniform();
                crossed[i * d + j] = j == forced || u < cr;
            }
            wave[i] = in_waves ? 0 : i;
            if (in_waves)
                for (std::size_t k = 0; k < 3; ++k)
                    if (partner[k] < i) wave[i] = std::max(wave[i], wave[partner[k]] + 1);
            waves = std::max(waves, wave[i] + 1);
        }
        // Individuals by wave, index order kept within each (a counting sort).
        meter.spend(2 * n + d * n);
        wave_end.assign(waves, 0);
        for (std::size_t i = 0; i < n; ++i) ++wave_end[wave[i]];
        for (std::size_t w = 1; w < waves; ++w) wave_end[w] += wave_end[w - 1];
        for (std::size_t i = n; i-- > 0;) by_wave[--wave_end[wave[i]]] = i;
        std::copy(x.begin(), x.end(), start.begin());

        std::size_t first = 0;
        for (std::size_t w = 0; w < waves; ++w) {
            std::size_t last = first;
            while (last < n && wave[by_wave[last]] == w) ++last;
            for (std::size_t r = first; r < last; ++r) {
                meter.spend(d);
                const std::size_t i = by_wave[r];
                const auto row = [&](std::size_t p) { return p < i ? &x[p * d] : &start[p * d]; };
                const double* xa = row(partners[3 * i]);
                const double* xb = row(partners[3 * i + 1]);
                const double* xc = row(partners[3 * i + 2]);
                const double* xi = &start[i * d];
                std::span<double> trial{&trials[(r - first) * d], d};
                for (std::size_t j = 0; j < d; ++j)
                    trial[j] = crossed[i * d + j] ? xa[j] + f * (xb[j] - xc[j]) : xi[j];
                bounds.clip(trial);
            }
            meter.spend((last - first) * d);
            problem.evaluate_batch(std::span<const double>(trials).first((last - first) * d),
                                   std::span<double>(trial_cost).first(last - first));
            for (std::size_t r = first; r < last; ++r) {
                const std::size_t i = by_wave[r];
                const double ft = trial_cost[r - first];
                // A tie replaces the parent, so the search crosses plateaus; the
                // replacement is immediate and later individuals see it.
                replaced[i] = replaces_or_ties(ft, cost[i]);
                if (replaced[i]) {
                    std::copy(&trials[(r - first) * d], &trials[(r - first + 1) * d], &x[i * d]);
                    cost[i] = ft;
                }
            }
            first = last;
        }
        meter.spend(n);
        for (std::size_t i = 0; i < n; ++i)
            if (replaced[i]) best.offer({&x[i * d], d}, cost[i]);
        result.history.push_back(best.value);
    }

    result.population = split_rows(x, d);
    std::move(best).store_in(result);
    return result;
}

}  // namespace hivekit
