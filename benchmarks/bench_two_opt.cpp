// 2-opt on random Euclidean instances, each started from a random permutation:
// TwoOptSearch against the plain procedure (full copy with the segment
// reversed, length summed from scratch, restart after every accepted move).
// Checks that both give the same tour and the same length bits, and prints
// their times and the speed ratio.
//
//   bench_two_opt [cities=200] [instances=3] [seed=1]
#include <algorithm>
#include <bit>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <numeric>
#include <random>
#include <utility>
#include <vector>

#include "algorithms/tour.hpp"
#include "plain_two_opt.hpp"

namespace {

using hivekit::DistanceMatrix;
using hivekit::test_support::plain_two_opt;
using hivekit::test_support::Tour;
using Clock = std::chrono::steady_clock;

constexpr double kTargetRatio = 50.0;

DistanceMatrix random_euclidean(std::size_t n, std::mt19937_64& gen) {
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<double> x(n), y(n), flat(n * n);
    for (std::size_t i = 0; i < n; ++i) {
        x[i] = unit(gen);
        y[i] = unit(gen);
    }
    for (std::size_t a = 0; a < n; ++a)
        for (std::size_t b = 0; b < n; ++b) flat[a * n + b] = std::hypot(x[a] - x[b], y[a] - y[b]);
    return DistanceMatrix(n, std::move(flat));
}

double seconds_since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

}  // namespace

int main(int argc, char** argv) {
    const std::size_t cities = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 200;
    const int instances = argc > 2 ? std::atoi(argv[2]) : 3;
    const std::uint64_t seed = argc > 3 ? std::strtoull(argv[3], nullptr, 10) : 1;

    std::mt19937_64 gen(seed);
    double plain_total = 0.0, fast_total = 0.0;
    bool identical = true;
    for (int k = 0; k < instances; ++k) {
        DistanceMatrix d = random_euclidean(cities, gen);
        Tour start(cities);
        std::iota(start.begin(), start.end(), std::size_t{0});
        std::shuffle(start.begin(), start.end(), gen);

        auto t0 = Clock::now();
        auto plain = plain_two_opt(start, d);
        const double plain_seconds = seconds_since(t0);

        // The fast search is timed over enough repeats to be measurable.
        int repeats = 0;
        Tour fast_tour;
        double fast_length = 0.0;
        t0 = Clock::now();
        do {
            fast_tour = start;
            hivekit::TwoOptSearch search(d);
            fast_length = search.improve(fast_tour);
            ++repeats;
        } while (seconds_since(t0) < 0.2);
        const double fast_seconds = seconds_since(t0) / repeats;

        const bool same = fast_tour == plain.first &&
                          std::bit_cast<std::uint64_t>(fast_length) == std::bit_cast<std::uint64_t>(plain.second);
        identical = identical && same;
        plain_total += plain_seconds;
        fast_total += fast_seconds;
        std::printf("instance %d: length %.17g, plain %.4f s, fast %.6f s, ratio %.1f, %s\n", k, fast_length,
                    plain_seconds, fast_seconds, plain_seconds / fast_seconds, same ? "identical" : "DIFFERENT");
    }
    const double ratio = plain_total / fast_total;
    std::printf("%zu cities, %d instances: plain %.3f s, fast %.5f s, speed ratio %.1fx (target %.0fx), outputs %s\n",
                cities, instances, plain_total, fast_total, ratio, kTargetRatio,
                identical ? "identical" : "DIFFERENT");
    return identical && ratio >= kTargetRatio ? 0 : 1;
}
