// Engine cost per evaluation of the particle swarm with a C++ objective that
// costs almost nothing, beside the cost of the random draws alone.
#include <chrono>
#include <cstdio>
#include <vector>

#include "algorithms/particle_swarm.hpp"

using namespace hivekit;

namespace {

class FirstCoordinate final : public Problem {
public:
    explicit FirstCoordinate(std::size_t d) : d_(d) {}
    double evaluate(std::span<const double> x) override {
        ++calls;
        return x[0];
    }
    std::size_t dimension() const override { return d_; }
    bool is_discrete() const override { return false; }
    std::string_view name() const override { return "first"; }
    const DistanceMatrix* distance_matrix() const override { return nullptr; }
    std::size_t calls = 0;

private:
    std::size_t d_;
};

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main() {
    std::printf("%6s %14s %16s %18s %8s\n", "d", "evaluations", "ns/evaluation", "ns/draws alone", "ratio");
    for (std::size_t d : {2, 10, 100}) {
        std::vector<double> lower(d, -5.0), upper(d, 5.0);
        Bounds bounds = std::get<Bounds>(Bounds::make(lower, upper));
        ParticleSwarmParams params{.n_particles = 50, .n_iterations = 20000000 / (50 * d)};
        double best = 1e300;
        std::size_t evaluations = 0;
        for (int repeat = 0; repeat < 3; ++repeat) {
            FirstCoordinate problem(d);
            auto start = std::chrono::steady_clock::now();
            Outcome outcome = run_particle_swarm(problem, bounds, params, 1);
            double elapsed = seconds_since(start);
            evaluations = problem.calls;
            if (std::holds_alternative<RunResult>(outcome)) best = std::min(best, elapsed / problem.calls);
        }
        // Baseline: the 2 * d uniform draws each evaluation needs, taken the
        // way the swarm takes them, and nothing else.
        double draws_best = 1e300;
        std::vector<double> draws(2 * d);
        for (int repeat = 0; repeat < 3; ++repeat) {
            RandomSource rng = RandomSource::from_seed_u64(1);
            double sink = 0.0;
            auto start = std::chrono::steady_clock::now();
            for (std::size_t e = 0; e < evaluations; ++e) {
                rng.fill_uniform(draws);
                sink += draws[e % draws.size()];
            }
            double elapsed = seconds_since(start);
            if (sink == 42.0) std::printf("!");
            draws_best = std::min(draws_best, elapsed / evaluations);
        }
        std::printf("%6zu %14zu %16.1f %18.1f %8.2f\n", d, evaluations, best * 1e9, draws_best * 1e9,
                    best / draws_best);
    }
    std::printf("target: at most 100 ns per evaluation at d = 10\n");
    return 0;
}
