// Eight ChaCha12 blocks at once with AVX2. This is the only file compiled for
// AVX2 (-mavx2, or /arch:AVX2 with MSVC), and only on x86-64; elsewhere it
// compiles to nothing. RandomSource::refill() calls it only after the
// processor has been found to support AVX2. Everything here other than the
// kernel itself has internal linkage, so no AVX2-compiled code can be shared
// with other files.
#include "core/chacha_blocks.hpp"

#if HIVEKIT_CHACHA_HAVE_AVX2

#if !defined(__AVX2__)
#error "chacha_avx2.cpp must be compiled for AVX2 (-mavx2 or /arch:AVX2)"
#endif

#include <immintrin.h>

namespace hivekit::detail {

namespace {

#if defined(_MSC_VER)
#define HIVEKIT_AVX2_INLINE static __forceinline
#else
#define HIVEKIT_AVX2_INLINE static inline __attribute__((always_inline))
#endif

HIVEKIT_AVX2_INLINE __m256i splat(std::uint32_t w) { return _mm256_set1_epi32(static_cast<int>(w)); }

template <int N>
HIVEKIT_AVX2_INLINE __m256i rotl_epi32(__m256i v) {
    return _mm256_or_si256(_mm256_slli_epi32(v, N), _mm256_srli_epi32(v, 32 - N));
}

// Rotations by whole bytes are a byte shuffle within each word.
HIVEKIT_AVX2_INLINE __m256i rotl16_epi32(__m256i v) {
    const __m256i order = _mm256_set_epi8(13, 12, 15, 14, 9, 8, 11, 10, 5, 4, 7, 6, 1, 0, 3, 2,
                                          13, 12, 15, 14, 9, 8, 11, 10, 5, 4, 7, 6, 1, 0, 3, 2);
    return _mm256_shuffle_epi8(v, order);
}

HIVEKIT_AVX2_INLINE __m256i rotl8_epi32(__m256i v) {
    const __m256i order = _mm256_set_epi8(14, 13, 12, 15, 10, 9, 8, 11, 6, 5, 4, 7, 2, 1, 0, 3,
                                          14, 13, 12, 15, 10, 9, 8, 11, 6, 5, 4, 7, 2, 1, 0, 3);
    return _mm256_shuffle_epi8(v, order);
}

HIVEKIT_AVX2_INLINE void quarter_round(__m256i& a, __m256i& b, __m256i& c, __m256i& d) {
    a = _mm256_add_epi32(a, b); d = _mm256_xor_si256(d, a); d = rotl16_epi32(d);
    c = _mm256_add_epi32(c, d); b = _mm256_xor_si256(b, c); b = rotl_epi32<12>(b);
    a = _mm256_add_epi32(a, b); d = _mm256_xor_si256(d, a); d = rotl8_epi32(d);
    c = _mm256_add_epi32(c, d); b = _mm256_xor_si256(b, c); b = rotl_epi32<7>(b);
}

HIVEKIT_AVX2_INLINE void store(std::uint32_t* dst, __m256i v) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst), v);
}

// Words w .. w+7 of all eight blocks (register k holds word w+k, lane b is
// block b) transposed so that each block's eight words are stored together.
HIVEKIT_AVX2_INLINE void transpose_store(const __m256i v[8], int w, std::uint32_t* first, std::uint32_t* second) {
    const __m256i t0 = _mm256_unpacklo_epi32(v[0], v[1]);
    const __m256i t1 = _mm256_unpackhi_epi32(v[0], v[1]);
    const __m256i t2 = _mm256_unpacklo_epi32(v[2], v[3]);
    const __m256i t3 = _mm256_unpackhi_epi32(v[2], v[3]);
    const __m256i t4 = _mm256_unpacklo_epi32(v[4], v[5]);
    const __m256i t5 = _mm256_unpackhi_epi32(v[4], v[5]);
    const __m256i t6 = _mm256_unpacklo_epi32(v[6], v[7]);
    const __m256i t7 = _mm256_unpackhi_epi32(v[6], v[7]);
    // Each 128-bit half now pairs block b (low half) with block b+4 (high half).
    const __m256i b04a = _mm256_unpacklo_epi64(t0, t2);
    const __m256i b15a = _mm256_unpackhi_epi64(t0, t2);
    const __m256i b26a = _mm256_unpacklo_epi64(t1, t3);
    const __m256i b37a = _mm256_unpackhi_epi64(t1, t3);
    const __m256i b04b = _mm256_unpacklo_epi64(t4, t6);
    const __m256i b15b = _mm256_unpackhi_epi64(t4, t6);
    const __m256i b26b = _mm256_unpacklo_epi64(t5, t7);
    const __m256i b37b = _mm256_unpackhi_epi64(t5, t7);
    store(first + 0 + w, _mm256_permute2x128_si256(b04a, b04b, 0x20));
    store(first + 16 + w, _mm256_permute2x128_si256(b15a, b15b, 0x20));
    store(first + 32 + w, _mm256_permute2x128_si256(b26a, b26b, 0x20));
    store(first + 48 + w, _mm256_permute2x128_si256(b37a, b37b, 0x20));
    store(second + 0 + w, _mm256_permute2x128_si256(b04a, b04b, 0x31));
    store(second + 16 + w, _mm256_permute2x128_si256(b15a, b15b, 0x31));
    store(second + 32 + w, _mm256_permute2x128_si256(b26a, b26b, 0x31));
    store(second + 48 + w, _mm256_permute2x128_si256(b37a, b37b, 0x31));
}

#undef HIVEKIT_AVX2_INLINE

}  // namespace

void chacha12_blocks8_avx2(const std::uint32_t key[8], std::uint64_t counter, std::uint32_t first[64],
                           std::uint32_t second[64]) {
    alignas(32) std::uint32_t clo[8], chi[8];
    for (int b = 0; b < 8; ++b) {
        const std::uint64_t c = counter + static_cast<std::uint64_t>(b);
        clo[b] = static_cast<std::uint32_t>(c);
        chi[b] = static_cast<std::uint32_t>(c >> 32);
    }
    const __m256i input[16] = {
        splat(0x61707865), splat(0x3320646e), splat(0x79622d32), splat(0x6b206574),
        splat(key[0]), splat(key[1]), splat(key[2]), splat(key[3]),
        splat(key[4]), splat(key[5]), splat(key[6]), splat(key[7]),
        _mm256_load_si256(reinterpret_cast<const __m256i*>(clo)),
        _mm256_load_si256(reinterpret_cast<const __m256i*>(chi)),
        _mm256_setzero_si256(), _mm256_setzero_si256(),
    };
    __m256i x[16];
    for (int i = 0; i < 16; ++i) x[i] = input[i];
    for (int r = 0; r < 6; ++r) {
        quarter_round(x[0], x[4], x[8], x[12]);
        quarter_round(x[1], x[5], x[9], x[13]);
        quarter_round(x[2], x[6], x[10], x[14]);
        quarter_round(x[3], x[7], x[11], x[15]);
        quarter_round(x[0], x[5], x[10], x[15]);
        quarter_round(x[1], x[6], x[11], x[12]);
        quarter_round(x[2], x[7], x[8], x[13]);
        quarter_round(x[3], x[4], x[9], x[14]);
    }
    for (int i = 0; i < 16; ++i) x[i] = _mm256_add_epi32(x[i], input[i]);
    transpose_store(x + 0, 0, first, second);
    transpose_store(x + 8, 8, first, second);
}

}  // namespace hivekit::detail

#endif  // HIVEKIT_CHACHA_HAVE_AVX2
