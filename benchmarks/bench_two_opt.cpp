// 2-opt with neighbour lists against the full scan of every row, which stays
// the general path: random uniform cities in the unit square (200, 500, 1,000
// and 2,000 of them) and the bundled pr1002 (whole-number distances), each
// started from a random permutation and from the nearest-neighbour tour.
// Checks that both give the same tour and the same length bits, and prints
// their processor times and the speed ratio.
//
//   bench_two_opt [seed=1] [largest=2000]
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <random>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "algorithms/tour.hpp"
#include "plain_two_opt.hpp"

namespace {

using hivekit::DistanceMatrix;
using hivekit::TwoOptSearch;
using Tour = std::vector<std::size_t>;

constexpr double kTargetRatio = 50.0;
constexpr std::size_t kTargetCities = 1000;

DistanceMatrix from_points(const std::vector<std::pair<double, double>>& points, bool nint) {
    const std::size_t n = points.size();
    std::vector<double> flat(n * n);
    for (std::size_t a = 0; a < n; ++a)
        for (std::size_t b = 0; b < n; ++b) {
            const double dx = points[a].first - points[b].first, dy = points[a].second - points[b].second;
            const double d = std::sqrt(dx * dx + dy * dy);
            flat[a * n + b] = nint ? std::floor(d + 0.5) : d;
        }
    return DistanceMatrix(n, std::move(flat));
}

DistanceMatrix uniform(std::size_t n, std::mt19937_64& gen) {
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<std::pair<double, double>> points(n);
    for (auto& p : points) p = {unit(gen), unit(gen)};
    return from_points(points, false);
}

// The NODE_COORD_SECTION of an EUC_2D file, distances rounded to the nearest whole number.
DistanceMatrix read_euc_2d(const std::filesystem::path& path) {
    std::ifstream in(path);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", path.c_str());
        std::exit(2);
    }
    std::string line;
    while (std::getline(in, line) && line.rfind("NODE_COORD_SECTION", 0) != 0) {
    }
    std::vector<std::pair<double, double>> points;
    while (std::getline(in, line) && line.rfind("EOF", 0) != 0) {
        std::istringstream fields(line);
        double node, x, y;
        if (fields >> node >> x >> y) points.emplace_back(x, y);
    }
    return from_points(points, true);
}

Tour random_permutation(std::size_t n, std::mt19937_64& gen) {
    Tour tour(n);
    std::iota(tour.begin(), tour.end(), std::size_t{0});
    std::shuffle(tour.begin(), tour.end(), gen);
    return tour;
}

// Processor time: the machine may be shared.
double seconds_since(std::clock_t start) { return static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC; }

// Seconds per search (a new search each time, lists included), timed over
// enough repeats to be measurable, with the result of the last one.
double time_search(const DistanceMatrix& d, const Tour& start, TwoOptSearch::Method method, Tour& tour,
                   double& length) {
    int repeats = 0;
    const std::clock_t t0 = std::clock();
    do {
        tour = start;
        TwoOptSearch search(d, {}, method);
        length = search.improve(tour);
        ++repeats;
    } while (seconds_since(t0) < 0.2);
    return seconds_since(t0) / repeats;
}

}  // namespace

int main(int argc, char** argv) {
    const std::uint64_t seed = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1;
    const std::size_t largest = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 2000;
    std::mt19937_64 gen(seed);

    std::vector<std::pair<std::string, DistanceMatrix>> instances;
    for (std::size_t n : {200, 500, 1000, 2000})
        if (n <= largest) instances.emplace_back("uniform " + std::to_string(n), uniform(n, gen));
    const auto data = std::filesystem::path(__FILE__).parent_path().parent_path() / "python/hivekit/data/tsplib";
    instances.emplace_back("pr1002", read_euc_2d(data / "pr1002.tsp"));

    bool identical = true;
    double target_ratio = 0.0;
    std::printf("%-14s %-18s %12s %12s %9s  %s\n", "instance", "start", "full scan s", "lists s", "ratio", "outputs");
    for (const auto& [name, d] : instances) {
        for (int from_permutation = 1; from_permutation >= 0; --from_permutation) {
            const Tour start = from_permutation ? random_permutation(d.size(), gen)
                                                : hivekit::test_support::nearest_neighbour_tour(d, 0);
            Tour full_tour, fast_tour;
            double full_length = 0.0, fast_length = 0.0;
            const double full = time_search(d, start, TwoOptSearch::Method::FullScan, full_tour, full_length);
            const double fast = time_search(d, start, TwoOptSearch::Method::Automatic, fast_tour, fast_length);
            const bool same = fast_tour == full_tour &&
                              std::bit_cast<std::uint64_t>(fast_length) == std::bit_cast<std::uint64_t>(full_length);
            identical = identical && same;
            if (from_permutation && name == "uniform " + std::to_string(kTargetCities)) target_ratio = full / fast;
            std::printf("%-14s %-18s %12.4f %12.5f %8.1fx  %s (length %.17g)\n", name.c_str(),
                        from_permutation ? "random permutation" : "nearest neighbour", full, fast, full / fast,
                        same ? "identical" : "DIFFERENT", fast_length);
        }
    }
    if (target_ratio > 0.0)
        std::printf("%zu cities from a random permutation: %.1fx (target %.0fx)\n", kTargetCities, target_ratio,
                    kTargetRatio);
    std::printf("outputs %s\n", identical ? "identical" : "DIFFERENT");
    return identical && (target_ratio == 0.0 || target_ratio >= kTargetRatio) ? 0 : 1;
}
