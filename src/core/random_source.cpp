// Seeding, out-of-line sampling and the block refill of RandomSource, plus the
// scalar and SSE2 ChaCha12 kernels and the run-time choice between kernels.
// The AVX2 kernel lives in chacha_avx2.cpp, the only file built for AVX2.
#include "core/random_source.hpp"

#include <atomic>
#include <bit>
#include <cerrno>
#include <cstdio>
#include <string>
#include <system_error>

#include "core/windows.hpp"

#if defined(_WIN32)
#include <bcrypt.h>
#elif defined(__linux__)
#include <sys/random.h>
#elif defined(__APPLE__)
#include <sys/types.h>
#include <sys/random.h>
#else
#include <unistd.h>
#endif

#include "core/chacha_blocks.hpp"
#include "core/error.hpp"
#include "core/wide_multiply.hpp"

#if HIVEKIT_CHACHA_HAVE_SSE2
#include <emmintrin.h>
#endif
#if HIVEKIT_CHACHA_HAVE_AVX2 && defined(_MSC_VER)
#include <immintrin.h>
#include <intrin.h>
#endif

namespace hivekit {

namespace detail {

namespace {

constexpr std::uint32_t kSigma0 = 0x61707865;  // "expa"
constexpr std::uint32_t kSigma1 = 0x3320646e;  // "nd 3"
constexpr std::uint32_t kSigma2 = 0x79622d32;  // "2-by"
constexpr std::uint32_t kSigma3 = 0x6b206574;  // "te k"
constexpr int kDoubleRounds = 6;               // 12 rounds

inline void quarter_round(std::uint32_t& a, std::uint32_t& b, std::uint32_t& c, std::uint32_t& d) {
    a += b; d ^= a; d = std::rotl(d, 16);
    c += d; b ^= c; b = std::rotl(b, 12);
    a += b; d ^= a; d = std::rotl(d, 8);
    c += d; b ^= c; b = std::rotl(b, 7);
}

void chacha12_block_scalar(const std::uint32_t key[8], std::uint64_t counter, std::uint32_t out[16]) {
    const std::uint32_t input[16] = {
        kSigma0, kSigma1, kSigma2, kSigma3,
        key[0], key[1], key[2], key[3], key[4], key[5], key[6], key[7],
        static_cast<std::uint32_t>(counter), static_cast<std::uint32_t>(counter >> 32),
        0, 0,
    };
    std::uint32_t x[16];
    for (int i = 0; i < 16; ++i) x[i] = input[i];
    for (int r = 0; r < kDoubleRounds; ++r) {
        quarter_round(x[0], x[4], x[8], x[12]);
        quarter_round(x[1], x[5], x[9], x[13]);
        quarter_round(x[2], x[6], x[10], x[14]);
        quarter_round(x[3], x[7], x[11], x[15]);
        quarter_round(x[0], x[5], x[10], x[15]);
        quarter_round(x[1], x[6], x[11], x[12]);
        quarter_round(x[2], x[7], x[8], x[13]);
        quarter_round(x[3], x[4], x[9], x[14]);
    }
    for (int i = 0; i < 16; ++i) out[i] = x[i] + input[i];
}

#if HIVEKIT_CHACHA_HAVE_SSE2

template <int N>
inline __m128i rotl_epi32(__m128i v) {
    return _mm_or_si128(_mm_slli_epi32(v, N), _mm_srli_epi32(v, 32 - N));
}

// Rotation by 16 swaps the two 16-bit halves of each word.
template <>
inline __m128i rotl_epi32<16>(__m128i v) {
    return _mm_shufflehi_epi16(_mm_shufflelo_epi16(v, 0xB1), 0xB1);
}

inline void quarter_round(__m128i& a, __m128i& b, __m128i& c, __m128i& d) {
    a = _mm_add_epi32(a, b); d = _mm_xor_si128(d, a); d = rotl_epi32<16>(d);
    c = _mm_add_epi32(c, d); b = _mm_xor_si128(b, c); b = rotl_epi32<12>(b);
    a = _mm_add_epi32(a, b); d = _mm_xor_si128(d, a); d = rotl_epi32<8>(d);
    c = _mm_add_epi32(c, d); b = _mm_xor_si128(b, c); b = rotl_epi32<7>(b);
}

inline __m128i splat(std::uint32_t w) { return _mm_set1_epi32(static_cast<int>(w)); }

#endif  // HIVEKIT_CHACHA_HAVE_SSE2

}  // namespace

void chacha12_blocks4_scalar(const std::uint32_t key[8], std::uint64_t counter, std::uint32_t out[64]) {
    for (std::uint64_t b = 0; b < 4; ++b) chacha12_block_scalar(key, counter + b, out + 16 * b);
}

#if HIVEKIT_CHACHA_HAVE_SSE2

// Lane b of every register belongs to block b, so register i holds word i of
// the four blocks; a 4x4 transpose per group of four words restores the
// block-after-block layout on the way out.
void chacha12_blocks4_sse2(const std::uint32_t key[8], std::uint64_t counter, std::uint32_t out[64]) {
    __m128i lo, hi;
    {
        alignas(16) std::uint32_t clo[4], chi[4];
        for (int b = 0; b < 4; ++b) {
            const std::uint64_t c = counter + static_cast<std::uint64_t>(b);
            clo[b] = static_cast<std::uint32_t>(c);
            chi[b] = static_cast<std::uint32_t>(c >> 32);
        }
        lo = _mm_load_si128(reinterpret_cast<const __m128i*>(clo));
        hi = _mm_load_si128(reinterpret_cast<const __m128i*>(chi));
    }
    const __m128i input[16] = {
        splat(kSigma0), splat(kSigma1), splat(kSigma2), splat(kSigma3),
        splat(key[0]),  splat(key[1]),  splat(key[2]),  splat(key[3]),
        splat(key[4]),  splat(key[5]),  splat(key[6]),  splat(key[7]),
        lo,             hi,             _mm_setzero_si128(), _mm_setzero_si128(),
    };
    __m128i x[16];
    for (int i = 0; i < 16; ++i) x[i] = input[i];
    for (int r = 0; r < kDoubleRounds; ++r) {
        quarter_round(x[0], x[4], x[8], x[12]);
        quarter_round(x[1], x[5], x[9], x[13]);
        quarter_round(x[2], x[6], x[10], x[14]);
        quarter_round(x[3], x[7], x[11], x[15]);
        quarter_round(x[0], x[5], x[10], x[15]);
        quarter_round(x[1], x[6], x[11], x[12]);
        quarter_round(x[2], x[7], x[8], x[13]);
        quarter_round(x[3], x[4], x[9], x[14]);
    }
    for (int g = 0; g < 16; g += 4) {
        const __m128i a = _mm_add_epi32(x[g + 0], input[g + 0]);
        const __m128i b = _mm_add_epi32(x[g + 1], input[g + 1]);
        const __m128i c = _mm_add_epi32(x[g + 2], input[g + 2]);
        const __m128i d = _mm_add_epi32(x[g + 3], input[g + 3]);
        const __m128i ab01 = _mm_unpacklo_epi32(a, b);
        const __m128i cd01 = _mm_unpacklo_epi32(c, d);
        const __m128i ab23 = _mm_unpackhi_epi32(a, b);
        const __m128i cd23 = _mm_unpackhi_epi32(c, d);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 0 + g), _mm_unpacklo_epi64(ab01, cd01));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16 + g), _mm_unpackhi_epi64(ab01, cd01));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 32 + g), _mm_unpacklo_epi64(ab23, cd23));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 48 + g), _mm_unpackhi_epi64(ab23, cd23));
    }
}

#endif  // HIVEKIT_CHACHA_HAVE_SSE2

namespace {

bool cpu_has_avx2() {
#if HIVEKIT_CHACHA_HAVE_AVX2 && defined(_MSC_VER)
    // The processor's AVX and AVX2 bits, and the operating system's saving of
    // the wide registers (OSXSAVE, then XMM and YMM state enabled in XCR0).
    static const bool has = [] {
        int regs[4];
        __cpuid(regs, 0);
        if (regs[0] < 7) return false;
        __cpuid(regs, 1);
        const bool osxsave = ((regs[2] >> 27) & 1) != 0, avx = ((regs[2] >> 28) & 1) != 0;
        if (!osxsave || !avx || (_xgetbv(0) & 0x6) != 0x6) return false;
        __cpuidex(regs, 7, 0);
        return ((regs[1] >> 5) & 1) != 0;
    }();
    return has;
#elif HIVEKIT_CHACHA_HAVE_AVX2 && (defined(__GNUC__) || defined(__clang__))
    // The check includes the operating system's support for the wide registers.
    static const bool has = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") != 0;
    }();
    return has;
#else
    return false;
#endif
}

std::atomic<ChachaPath>& path_slot() {
    static std::atomic<ChachaPath> slot{best_chacha_path()};
    return slot;
}

}  // namespace

const char* chacha_path_name(ChachaPath path) {
    switch (path) {
        case ChachaPath::Scalar: return "scalar";
        case ChachaPath::Sse2: return "sse2";
        case ChachaPath::Avx2: return "avx2";
    }
    return "unknown";
}

bool chacha_path_available(ChachaPath path) {
    switch (path) {
        case ChachaPath::Scalar: return true;
        case ChachaPath::Sse2: return HIVEKIT_CHACHA_HAVE_SSE2 != 0;
        case ChachaPath::Avx2: return cpu_has_avx2();
    }
    return false;
}

ChachaPath best_chacha_path() {
    if (chacha_path_available(ChachaPath::Avx2)) return ChachaPath::Avx2;
    if (chacha_path_available(ChachaPath::Sse2)) return ChachaPath::Sse2;
    return ChachaPath::Scalar;
}

bool set_chacha_path(ChachaPath path) {
    if (!chacha_path_available(path)) return false;
    path_slot().store(path, std::memory_order_relaxed);
    return true;
}

ChachaPath active_chacha_path() { return path_slot().load(std::memory_order_relaxed); }

}  // namespace detail

namespace {

// PCG32 (XSH-RR output) run for eight steps; the state is advanced before
// each output so that seed 0 still gives a well-mixed key.
RandomSource::Key expand_seed(std::uint64_t seed) {
    constexpr std::uint64_t kMultiplier = 0x5851f42d4c957f2dULL;
    constexpr std::uint64_t kIncrement = 0xa17654e46fbe17f3ULL;
    RandomSource::Key key{};
    std::uint64_t state = seed;
    for (auto& word : key) {
        state = state * kMultiplier + kIncrement;
        const auto xorshifted = static_cast<std::uint32_t>(((state >> 18) ^ state) >> 27);
        const auto rot = static_cast<int>(state >> 59);
        word = std::rotr(xorshifted, rot);
    }
    return key;
}

[[noreturn]] void throw_empty_range() { throw InternalFault("cannot sample empty range"); }

}  // namespace

RandomSource::RandomSource(const Key& key) : key_(key) {}

RandomSource RandomSource::from_seed_u64(std::uint64_t seed) { return RandomSource(expand_seed(seed)); }

RandomSource RandomSource::from_key(const Key& key) { return RandomSource(key); }

RandomSource RandomSource::from_entropy() {
    unsigned char bytes[32];
    std::size_t filled = 0;
    while (filled < sizeof bytes) {
#if defined(_WIN32)
        // The system's preferred generator needs no algorithm handle.
        const NTSTATUS status = ::BCryptGenRandom(nullptr, bytes, static_cast<ULONG>(sizeof bytes),
                                                  BCRYPT_USE_SYSTEM_PREFERRED_RNG);
        if (!BCRYPT_SUCCESS(status)) {
            char code[40];
            std::snprintf(code, sizeof code, "BCryptGenRandom status 0x%08lx",
                          static_cast<unsigned long>(status));
            throw InternalFault(std::string("from_entropy failed: ") + code);
        }
        filled = sizeof bytes;
#elif defined(__linux__)
        const ssize_t got = ::getrandom(bytes + filled, sizeof bytes - filled, 0);
        if (got < 0) {
            if (errno == EINTR) continue;
            throw InternalFault("from_entropy failed: " + std::system_category().message(errno));
        }
        if (got == 0) throw InternalFault("from_entropy failed: " + std::system_category().message(EIO));
        filled += static_cast<std::size_t>(got);
#else
        if (::getentropy(bytes, sizeof bytes) != 0) {
            if (errno == EINTR) continue;
            throw InternalFault("from_entropy failed: " + std::system_category().message(errno));
        }
        filled = sizeof bytes;
#endif
    }
    Key key{};
    for (std::size_t i = 0; i < key.size(); ++i) {
        key[i] = static_cast<std::uint32_t>(bytes[4 * i]) | (static_cast<std::uint32_t>(bytes[4 * i + 1]) << 8) |
                 (static_cast<std::uint32_t>(bytes[4 * i + 2]) << 16) |
                 (static_cast<std::uint32_t>(bytes[4 * i + 3]) << 24);
    }
    return RandomSource(key);
}

// Lemire's widening multiplication: the high half of v * n is the candidate,
// and a low half above zone marks one of the draws that would bias it.
std::uint64_t RandomSource::index_below(std::uint64_t n) {
    if (n == 0) throw_empty_range();
    const std::uint64_t zone = (n << std::countl_zero(n)) - 1;
    for (;;) {
        const detail::WideProduct m = detail::multiply_wide(next_u64(), n);
        if (m.low <= zone) return m.high;
    }
}

// The same rejection in 32 bits (one word per attempt) whenever n fits.
std::size_t RandomSource::choose_index(std::size_t n) {
    if (n == 0) throw_empty_range();
    if (static_cast<std::uint64_t>(n) > 0xFFFFFFFFULL) return static_cast<std::size_t>(index_below(n));
    const auto n32 = static_cast<std::uint32_t>(n);
    const std::uint32_t zone = (n32 << std::countl_zero(n32)) - 1;
    for (;;) {
        const std::uint64_t m = static_cast<std::uint64_t>(next_u32()) * n32;
        if (static_cast<std::uint32_t>(m) <= zone) return static_cast<std::size_t>(m >> 32);
    }
}

// Fills the buffer with blocks counter_ .. counter_+3 and advances counter_ by
// four. The AVX2 kernel computes eight blocks per call; the second four are
// kept in ahead_ and served by the next refill, so the buffer contents and
// the counter are the same whichever kernel runs.
void RandomSource::refill() {
    if (has_ahead_) {
        buffer_ = ahead_;
        has_ahead_ = false;
    } else {
        switch (detail::active_chacha_path()) {
#if HIVEKIT_CHACHA_HAVE_AVX2
            case detail::ChachaPath::Avx2:
                detail::chacha12_blocks8_avx2(key_.data(), counter_, buffer_.data(), ahead_.data());
                has_ahead_ = true;
                break;
#endif
#if HIVEKIT_CHACHA_HAVE_SSE2
            case detail::ChachaPath::Sse2:
                detail::chacha12_blocks4_sse2(key_.data(), counter_, buffer_.data());
                break;
#endif
            default:
                detail::chacha12_blocks4_scalar(key_.data(), counter_, buffer_.data());
                break;
        }
    }
    counter_ += 4;
}

}  // namespace hivekit
