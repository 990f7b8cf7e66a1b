// The full 128-bit product of two 64-bit words, behind the bounded draws of
// RandomSource.
#pragma once

#include <cstdint>

#if defined(_MSC_VER) && !defined(__SIZEOF_INT128__) && (defined(_M_X64) || defined(_M_ARM64))
#include <intrin.h>
#endif

namespace hivekit::detail {

struct WideProduct {
    std::uint64_t high, low;
};

// Schoolbook multiplication in 32-bit halves. It serves targets whose compiler
// has neither a 128-bit integer nor a high-multiply intrinsic, and the tests
// hold the native forms below to it.
constexpr WideProduct multiply_wide_halves(std::uint64_t a, std::uint64_t b) {
    const std::uint64_t a_lo = a & 0xFFFFFFFFu, a_hi = a >> 32, b_lo = b & 0xFFFFFFFFu, b_hi = b >> 32;
    const std::uint64_t ll = a_lo * b_lo, lh = a_lo * b_hi, hl = a_hi * b_lo, hh = a_hi * b_hi;
    // Bits 32 .. 63 of the product with their carries: at most 3 (2^32 - 1), no overflow.
    const std::uint64_t middle = (ll >> 32) + (lh & 0xFFFFFFFFu) + (hl & 0xFFFFFFFFu);
    return {hh + (lh >> 32) + (hl >> 32) + (middle >> 32), (middle << 32) | (ll & 0xFFFFFFFFu)};
}

inline WideProduct multiply_wide(std::uint64_t a, std::uint64_t b) {
#if defined(__SIZEOF_INT128__)
    __extension__ typedef unsigned __int128 u128;
    const u128 m = static_cast<u128>(a) * b;
    return {static_cast<std::uint64_t>(m >> 64), static_cast<std::uint64_t>(m)};
#elif defined(_MSC_VER) && defined(_M_X64)
    std::uint64_t high;
    const std::uint64_t low = _umul128(a, b, &high);
    return {high, low};
#elif defined(_MSC_VER) && defined(_M_ARM64)
    return {__umulh(a, b), a * b};
#else
    return multiply_wide_halves(a, b);
#endif
}

}  // namespace hivekit::detail
