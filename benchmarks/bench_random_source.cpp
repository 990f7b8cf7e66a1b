// Throughput of RandomSource on every ChaCha12 kernel this processor can run:
// uniform() draws per second through the inline buffer path, and the raw
// rate of the block kernel alone. Best of several timed runs per path.
//
//   bench_random_source [draws_per_run] [runs]
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "core/chacha_blocks.hpp"
#include "core/random_source.hpp"

namespace {

using hivekit::RandomSource;
using hivekit::detail::ChachaPath;
using Clock = std::chrono::steady_clock;

constexpr double kTargetSse2 = 150e6;  // uniform() per second
constexpr double kTargetAvx2 = 250e6;

volatile double g_sink_double;
volatile std::uint32_t g_sink_word;

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// uniform() calls per second, best of `runs`.
double time_uniform(std::uint64_t draws, int runs) {
    double best = 0.0;
    RandomSource rng = RandomSource::from_seed_u64(2024);
    for (int r = 0; r < runs; ++r) {
        // Four partial sums keep the floating-point add latency off the critical path.
        double s0 = 0.0, s1 = 0.0, s2 = 0.0, s3 = 0.0;
        const auto start = Clock::now();
        for (std::uint64_t i = 0; i < draws; i += 4) {
            s0 += rng.uniform();
            s1 += rng.uniform();
            s2 += rng.uniform();
            s3 += rng.uniform();
        }
        const double t = seconds_since(start);
        g_sink_double = (s0 + s1) + (s2 + s3);
        best = std::max(best, static_cast<double>(draws) / t);
    }
    return best;
}

// Bytes per second of the block kernel alone, best of `runs`.
double time_kernel(ChachaPath path, std::uint64_t bytes, int runs) {
    const std::uint32_t key[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    alignas(64) std::uint32_t out[128];
    const unsigned blocks_per_call = path == ChachaPath::Avx2 ? 8 : 4;
    const std::uint64_t calls = bytes / (64ull * blocks_per_call);
    double best = 0.0;
    for (int r = 0; r < runs; ++r) {
        std::uint32_t acc = 0;
        std::uint64_t counter = 0;
        const auto start = Clock::now();
        for (std::uint64_t c = 0; c < calls; ++c) {
            switch (path) {
#if HIVEKIT_CHACHA_HAVE_AVX2
                case ChachaPath::Avx2: hivekit::detail::chacha12_blocks8_avx2(key, counter, out, out + 64); break;
#endif
#if HIVEKIT_CHACHA_HAVE_SSE2
                case ChachaPath::Sse2: hivekit::detail::chacha12_blocks4_sse2(key, counter, out); break;
#endif
                default: hivekit::detail::chacha12_blocks4_scalar(key, counter, out); break;
            }
            acc ^= out[c & 63];
            counter += blocks_per_call;
        }
        const double t = seconds_since(start);
        g_sink_word = acc;
        best = std::max(best, static_cast<double>(calls * 64ull * blocks_per_call) / t);
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    const std::uint64_t draws = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 50'000'000ull;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 5;
    if (draws < 4 || runs < 1) {
        std::fprintf(stderr, "usage: %s [draws_per_run >= 4] [runs >= 1]\n", argv[0]);
        return 2;
    }

    struct Row {
        ChachaPath path;
        double uniform_per_s;
        double kernel_bytes_per_s;
    };
    std::vector<Row> rows;
    const ChachaPath default_path = hivekit::detail::active_chacha_path();
    for (ChachaPath p : {ChachaPath::Scalar, ChachaPath::Sse2, ChachaPath::Avx2}) {
        if (!hivekit::detail::set_chacha_path(p)) continue;
        rows.push_back({p, time_uniform(draws, runs), time_kernel(p, draws * 8, runs)});
    }
    hivekit::detail::set_chacha_path(default_path);

    std::printf("RandomSource throughput, %llu uniform() per run, best of %d runs (default path: %s)\n",
                static_cast<unsigned long long>(draws), runs, hivekit::detail::chacha_path_name(default_path));
    std::printf("uniform() uses 8 bytes of generator output per draw.\n\n");
    std::printf("%-7s %14s %14s %10s %16s %10s\n", "path", "M uniform/s", "GB/s (draws)", "vs scalar",
                "kernel GB/s", "vs scalar");
    const Row& base = rows.front();
    for (const Row& r : rows) {
        std::printf("%-7s %14.1f %14.2f %9.2fx %16.2f %9.2fx\n", hivekit::detail::chacha_path_name(r.path),
                    r.uniform_per_s / 1e6, r.uniform_per_s * 8 / 1e9, r.uniform_per_s / base.uniform_per_s,
                    r.kernel_bytes_per_s / 1e9, r.kernel_bytes_per_s / base.kernel_bytes_per_s);
    }

    std::printf("\nTargets: >= %.0f M uniform()/s on sse2, >= %.0f M uniform()/s on avx2.\n", kTargetSse2 / 1e6,
                kTargetAvx2 / 1e6);
    for (const Row& r : rows) {
        double target = 0.0;
        if (r.path == ChachaPath::Sse2) target = kTargetSse2;
        if (r.path == ChachaPath::Avx2) target = kTargetAvx2;
        if (target == 0.0) continue;
        const bool met = r.uniform_per_s >= target;
        std::printf("  %-5s %7.1f M/s  target %5.0f M/s  %s\n", hivekit::detail::chacha_path_name(r.path),
                    r.uniform_per_s / 1e6, target / 1e6, met ? "met" : "NOT MET");
    }
    return 0;
}
