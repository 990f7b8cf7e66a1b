// ChaCha12 block kernels behind RandomSource::refill(), and the switch that
// picks one of them at run time.
//
// Every kernel computes consecutive blocks of ChaCha with 12 rounds in its
// original layout: words 0-3 the "expand 32-byte k" constants, 4-11 the key,
// 12-13 the 64-bit block counter (low, high), 14-15 a 64-bit stream number,
// always 0 here. Block b of a call uses counter + b (modulo 2^64) and lands in
// out[16 b .. 16 b + 15]. All kernels give identical words; they differ only
// in how many blocks they compute at once and which instructions they use.
//
// This header is included by the AVX2 translation unit, which is compiled
// for AVX2 (-mavx2, or /arch:AVX2 with MSVC): it must stay free of inline
// functions and templates so that no AVX2-compiled copy of shared code can
// leak into the rest of the program.
#pragma once

#include <cstdint>

// The vector kernels exist on x86-64 only (SSE2 is part of its base
// instruction set; AVX2 is checked at run time). Every other target, arm64
// included, runs the scalar kernel. The build compiles chacha_avx2.cpp with
// the AVX2 flag exactly when this test holds, so both must stay the same test.
#if (defined(__x86_64__) || defined(_M_X64)) && !defined(_M_ARM64EC)
#define HIVEKIT_CHACHA_X86_64 1
#else
#define HIVEKIT_CHACHA_X86_64 0
#endif

#define HIVEKIT_CHACHA_HAVE_SSE2 HIVEKIT_CHACHA_X86_64
#define HIVEKIT_CHACHA_HAVE_AVX2 HIVEKIT_CHACHA_X86_64

namespace hivekit::detail {

// Four blocks, one at a time, in plain integer arithmetic. Always available.
void chacha12_blocks4_scalar(const std::uint32_t key[8], std::uint64_t counter, std::uint32_t out[64]);

#if HIVEKIT_CHACHA_HAVE_SSE2
// Four blocks at once, one block per 32-bit lane of SSE2 registers.
void chacha12_blocks4_sse2(const std::uint32_t key[8], std::uint64_t counter, std::uint32_t out[64]);
#endif

#if HIVEKIT_CHACHA_HAVE_AVX2
// Eight blocks at once, one block per 32-bit lane of AVX2 registers: blocks
// counter .. counter+3 go to first, counter+4 .. counter+7 to second. Only to
// be called when the processor supports AVX2.
void chacha12_blocks8_avx2(const std::uint32_t key[8], std::uint64_t counter, std::uint32_t first[64],
                           std::uint32_t second[64]);
#endif

enum class ChachaPath { Scalar, Sse2, Avx2 };

// "scalar", "sse2" or "avx2".
const char* chacha_path_name(ChachaPath path);

// Whether this build has the kernel and this processor can run it.
bool chacha_path_available(ChachaPath path);

// The widest available kernel: the one used unless another is forced.
ChachaPath best_chacha_path();

// The kernel refill() uses from now on (process-wide). Returns false and
// changes nothing when the path is not available. Meant for tests and
// benchmarks; every path yields the same stream.
bool set_chacha_path(ChachaPath path);

ChachaPath active_chacha_path();

}  // namespace hivekit::detail
