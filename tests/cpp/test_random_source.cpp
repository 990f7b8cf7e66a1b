// RandomSource: the recorded vectors on every ChaCha kernel this machine can
// run, agreement of the kernels with each other, and the generator's edge
// behaviour (empty ranges, draw counts, refill boundaries, entropy seeding).
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <limits>
#include <numeric>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/chacha_blocks.hpp"
#include "core/error.hpp"
#include "core/random_source.hpp"
#include <nlohmann/json.hpp>

namespace {

using hivekit::InternalFault;
using hivekit::RandomSource;
using hivekit::detail::ChachaPath;

using Json = nlohmann::json;

// The recorded vectors. A missing or unreadable file fails every test that
// reads it: skipping would let a broken checkout pass.
const Json& vectors() {
    static const Json doc = [] {
        std::ifstream in(HIVEKIT_TEST_DATA_DIR "/random_source.json");
        if (!in) throw std::runtime_error("cannot read " HIVEKIT_TEST_DATA_DIR "/random_source.json");
        return Json::parse(in);
    }();
    return doc;
}

// A 64-bit value, kept in the file as a number or, where a JSON reader might
// round it through a double, as a decimal string.
std::uint64_t u64(const Json& v) {
    if (!v.is_string()) return v.get<std::uint64_t>();
    const auto& text = v.get_ref<const std::string&>();
    std::uint64_t out = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    if (ec != std::errc{} || end != text.data() + text.size()) throw std::runtime_error("not an integer: " + text);
    return out;
}

// A double kept as its float.hex() text, so it compares bit for bit.
double hex_double(const Json& v) {
    const auto& text = v.get_ref<const std::string&>();
    char* end = nullptr;
    const double out = std::strtod(text.c_str(), &end);
    if (text.empty() || end != text.c_str() + text.size()) throw std::runtime_error("not a float: " + text);
    return out;
}

std::vector<ChachaPath> available_paths() {
    std::vector<ChachaPath> paths;
    for (ChachaPath p : {ChachaPath::Scalar, ChachaPath::Sse2, ChachaPath::Avx2})
        if (hivekit::detail::chacha_path_available(p)) paths.push_back(p);
    return paths;
}

// Forces a kernel for the lifetime of the guard, then restores the previous one.
class PathGuard {
public:
    explicit PathGuard(ChachaPath p) : saved_(hivekit::detail::active_chacha_path()) {
        if (!hivekit::detail::set_chacha_path(p)) throw std::runtime_error("path not available");
    }
    ~PathGuard() { hivekit::detail::set_chacha_path(saved_); }
    PathGuard(const PathGuard&) = delete;
    PathGuard& operator=(const PathGuard&) = delete;

private:
    ChachaPath saved_;
};

std::uint64_t bits_of(double x) {
    std::uint64_t b;
    std::memcpy(&b, &x, sizeof b);
    return b;
}

// Applies one recorded op to the generator and checks its result.
void check_op(RandomSource& rng, const Json& op, const Json& expect) {
    const std::string name = op[0].get<std::string>();
    if (name == "next_u64") {
        EXPECT_EQ(rng.next_u64(), u64(expect));
    } else if (name == "next_u32") {
        EXPECT_EQ(rng.next_u32(), u64(expect));
    } else if (name == "uniform") {
        const double want = hex_double(expect);
        const double got = rng.uniform();
        EXPECT_EQ(bits_of(got), bits_of(want)) << "got " << std::hexfloat << got << ", want " << want;
    } else if (name == "index_below") {
        EXPECT_EQ(rng.index_below(u64(op[1])), u64(expect));
    } else if (name == "choose") {
        EXPECT_EQ(rng.choose_index(static_cast<std::size_t>(u64(op[1]))), u64(expect));
    } else if (name == "shuffle") {
        // The recorded result is the list 0 .. n-1 after shuffling.
        std::vector<std::uint64_t> items(static_cast<std::size_t>(u64(op[1])));
        std::iota(items.begin(), items.end(), std::uint64_t{0});
        rng.shuffle(std::span<std::uint64_t>(items));
        std::vector<std::uint64_t> want;
        for (const Json& v : expect) want.push_back(u64(v));
        EXPECT_EQ(items, want);
    } else {
        ADD_FAILURE() << "unknown op " << name;
    }
}

std::string path_test_name(const testing::TestParamInfo<ChachaPath>& info) {
    return hivekit::detail::chacha_path_name(info.param);
}

// ---------------------------------------------------------------------------
// Recorded vectors, once per available kernel.

class RandomSourceVectors : public testing::TestWithParam<ChachaPath> {};

TEST_P(RandomSourceVectors, SeedExpansionGivesRecordedKeys) {
    PathGuard guard(GetParam());
    const Json& cases = vectors().at("cases");
    ASSERT_GT(cases.size(), 0u);
    for (const Json& c : cases) {
        SCOPED_TRACE("seed " + c.at("seed").dump());
        const RandomSource rng = RandomSource::from_seed_u64(u64(c.at("seed")));
        const Json& words = c.at("key_words");
        ASSERT_EQ(words.size(), 8u);
        for (std::size_t i = 0; i < 8; ++i) EXPECT_EQ(rng.key()[i], u64(words[i])) << "key word " << i;
    }
}

TEST_P(RandomSourceVectors, RecordedOpsReproduceExactly) {
    PathGuard guard(GetParam());
    std::size_t ops_checked = 0;
    for (const Json& c : vectors().at("cases")) {
        SCOPED_TRACE("seed " + c.at("seed").dump());
        const Json& ops = c.at("ops");
        const Json& expect = c.at("expect");
        ASSERT_EQ(ops.size(), expect.size());
        RandomSource rng = RandomSource::from_seed_u64(u64(c.at("seed")));
        for (std::size_t i = 0; i < ops.size(); ++i) {
            SCOPED_TRACE("op " + std::to_string(i) + ": " + ops[i].dump());
            check_op(rng, ops[i], expect[i]);
            ++ops_checked;
        }
    }
    RecordProperty("ops_checked", static_cast<int>(ops_checked));
    EXPECT_GT(ops_checked, 0u);
}

TEST_P(RandomSourceVectors, ZeroKeyFirstU64MatchesPublishedValue) {
    PathGuard guard(GetParam());
    RandomSource rng = RandomSource::from_key(RandomSource::Key{});
    EXPECT_EQ(rng.next_u64(), u64(vectors().at("zero_key_first_u64").at("expect")));
}

INSTANTIATE_TEST_SUITE_P(ChachaPaths, RandomSourceVectors, testing::ValuesIn(available_paths()), path_test_name);

// ---------------------------------------------------------------------------
// Kernels against each other.

TEST(ChachaKernels, ScalarAndSse2AndAvx2ProduceIdenticalBlocks) {
    RandomSource::Key key{};
    for (std::size_t i = 0; i < key.size(); ++i) key[i] = 0x9e3779b9u * static_cast<std::uint32_t>(i + 1);
    // Includes counters whose four or eight blocks carry into the high word and wrap at 2^64.
    const std::uint64_t counters[] = {0, 4, 1000, 0xFFFFFFFEULL, 0xFFFFFFFCULL, 0x1234567800000000ULL,
                                      0xFFFFFFFFFFFFFFFEULL, 0xFFFFFFFFFFFFFFF9ULL};
    for (std::uint64_t counter : counters) {
        SCOPED_TRACE("counter " + std::to_string(counter));
        std::array<std::uint32_t, 128> scalar{};
        hivekit::detail::chacha12_blocks4_scalar(key.data(), counter, scalar.data());
        hivekit::detail::chacha12_blocks4_scalar(key.data(), counter + 4, scalar.data() + 64);
#if HIVEKIT_CHACHA_HAVE_SSE2
        std::array<std::uint32_t, 128> sse2{};
        hivekit::detail::chacha12_blocks4_sse2(key.data(), counter, sse2.data());
        hivekit::detail::chacha12_blocks4_sse2(key.data(), counter + 4, sse2.data() + 64);
        EXPECT_EQ(sse2, scalar);
#endif
#if HIVEKIT_CHACHA_HAVE_AVX2
        if (hivekit::detail::chacha_path_available(ChachaPath::Avx2)) {
            std::array<std::uint32_t, 128> avx2{};
            hivekit::detail::chacha12_blocks8_avx2(key.data(), counter, avx2.data(), avx2.data() + 64);
            EXPECT_EQ(avx2, scalar);
        }
#endif
    }
}

TEST(ChachaKernels, CounterCarriesIntoHighWord) {
    // Blocks 0xFFFFFFFF and 0x100000000 of a four-block call must differ from
    // the blocks with only the low word set.
    RandomSource::Key key{};
    std::array<std::uint32_t, 64> a{}, b{};
    hivekit::detail::chacha12_blocks4_scalar(key.data(), 0xFFFFFFFEULL, a.data());
    hivekit::detail::chacha12_blocks4_scalar(key.data(), 0x100000000ULL, b.data());
    EXPECT_TRUE(std::equal(a.begin() + 32, a.end(), b.begin()));
    std::array<std::uint32_t, 64> low_only{};
    hivekit::detail::chacha12_blocks4_scalar(key.data(), 0, low_only.data());
    EXPECT_FALSE(std::equal(a.begin() + 32, a.begin() + 48, low_only.begin()));
}

TEST(ChachaKernels, AllPathsGiveTheSameLongMixedStream) {
    const auto paths = available_paths();
    std::vector<std::vector<std::uint64_t>> streams;
    for (ChachaPath p : paths) {
        PathGuard guard(p);
        RandomSource rng = RandomSource::from_seed_u64(0xC0FFEE);
        // A mix of one- and two-word draws so that next_u64 meets every buffer
        // position, including 63 (spanning a refill).
        std::uint64_t pattern = 0x243F6A8885A308D3ULL;
        std::vector<std::uint64_t> out;
        out.reserve(10000);
        for (int i = 0; i < 10000; ++i) {
            pattern = pattern * 6364136223846793005ULL + 1442695040888963407ULL;
            out.push_back((pattern >> 63) ? rng.next_u64() : rng.next_u32());
        }
        streams.push_back(std::move(out));
    }
    for (std::size_t i = 1; i < streams.size(); ++i)
        EXPECT_EQ(streams[i], streams[0]) << hivekit::detail::chacha_path_name(paths[i]) << " vs "
                                          << hivekit::detail::chacha_path_name(paths[0]);
}

TEST(ChachaKernels, SwitchingPathMidStreamKeepsTheStream) {
    const auto paths = available_paths();
    std::vector<std::uint32_t> reference;
    {
        PathGuard guard(ChachaPath::Scalar);
        RandomSource rng = RandomSource::from_seed_u64(7);
        for (int i = 0; i < 64 * 20; ++i) reference.push_back(rng.next_u32());
    }
    PathGuard restore(hivekit::detail::active_chacha_path());
    RandomSource rng = RandomSource::from_seed_u64(7);
    std::vector<std::uint32_t> mixed;
    for (int i = 0; i < 64 * 20; ++i) {
        if (i % 64 == 0) hivekit::detail::set_chacha_path(paths[static_cast<std::size_t>(i / 64) % paths.size()]);
        mixed.push_back(rng.next_u32());
    }
    EXPECT_EQ(mixed, reference);
}

TEST(ChachaKernels, UnavailablePathIsRefused) {
    const ChachaPath before = hivekit::detail::active_chacha_path();
    for (ChachaPath p : {ChachaPath::Scalar, ChachaPath::Sse2, ChachaPath::Avx2}) {
        if (hivekit::detail::chacha_path_available(p)) continue;
        EXPECT_FALSE(hivekit::detail::set_chacha_path(p));
        EXPECT_EQ(hivekit::detail::active_chacha_path(), before);
    }
    EXPECT_TRUE(hivekit::detail::chacha_path_available(ChachaPath::Scalar));
    EXPECT_EQ(hivekit::detail::best_chacha_path(), available_paths().back());
}

// ---------------------------------------------------------------------------
// Seeding.

TEST(RandomSourceSeeding, SameSeedGivesSameSequence) {
    RandomSource a = RandomSource::from_seed_u64(99);
    RandomSource b = RandomSource::from_seed_u64(99);
    for (int i = 0; i < 500; ++i) ASSERT_EQ(a.next_u64(), b.next_u64());
}

TEST(RandomSourceSeeding, SeedsZeroAndOneGiveDifferentKeys) {
    EXPECT_NE(RandomSource::from_seed_u64(0).key(), RandomSource::from_seed_u64(1).key());
    EXPECT_NE(RandomSource::from_seed_u64(0).key(), RandomSource::Key{});
}

TEST(RandomSourceSeeding, FromKeyKeepsTheKey) {
    const RandomSource::Key key = {1, 2, 3, 4, 5, 6, 7, 0xFFFFFFFFu};
    EXPECT_EQ(RandomSource::from_key(key).key(), key);
    RandomSource a = RandomSource::from_key(RandomSource::from_seed_u64(5).key());
    RandomSource b = RandomSource::from_seed_u64(5);
    for (int i = 0; i < 100; ++i) ASSERT_EQ(a.next_u64(), b.next_u64());
}

TEST(RandomSourceSeeding, FromEntropyGivesDifferentKeysOnEachCall) {
    const RandomSource a = RandomSource::from_entropy();
    const RandomSource b = RandomSource::from_entropy();
    EXPECT_NE(a.key(), b.key());
}

// ---------------------------------------------------------------------------
// Buffer positions.

TEST(RandomSourceBuffer, FirstNextU64IsWordsZeroAndOne) {
    RandomSource a = RandomSource::from_seed_u64(3);
    RandomSource b = RandomSource::from_seed_u64(3);
    const std::uint64_t lo = b.next_u32();
    const std::uint64_t hi = b.next_u32();
    EXPECT_EQ(a.next_u64(), (hi << 32) | lo);
    EXPECT_EQ(a.next_u32(), b.next_u32());
}

TEST(RandomSourceBuffer, NextU64AtLastWordSpansTheRefill) {
    RandomSource a = RandomSource::from_seed_u64(11);
    RandomSource b = RandomSource::from_seed_u64(11);
    for (int i = 0; i < 63; ++i) ASSERT_EQ(a.next_u32(), b.next_u32());
    const std::uint64_t lo = b.next_u32();  // word 63 of the first buffer
    const std::uint64_t hi = b.next_u32();  // word 0 of the second buffer
    EXPECT_EQ(a.next_u64(), (hi << 32) | lo);
    // The stream continues at word 1 of the second buffer.
    for (int i = 0; i < 200; ++i) ASSERT_EQ(a.next_u32(), b.next_u32());
}

TEST(RandomSourceBuffer, NextU64AtEmptyBufferStartsTheNextBlockGroup) {
    RandomSource a = RandomSource::from_seed_u64(12);
    RandomSource b = RandomSource::from_seed_u64(12);
    for (int i = 0; i < 32; ++i) ASSERT_EQ(a.next_u64(), b.next_u64());  // buffer exactly used up
    const std::uint64_t lo = b.next_u32();
    const std::uint64_t hi = b.next_u32();
    EXPECT_EQ(a.next_u64(), (hi << 32) | lo);
}

TEST(RandomSourceBuffer, UniformIsTopFiftyThreeBitsOfNextU64) {
    RandomSource a = RandomSource::from_seed_u64(21);
    RandomSource b = RandomSource::from_seed_u64(21);
    for (int i = 0; i < 1000; ++i) {
        const double u = a.uniform();
        const std::uint64_t v = b.next_u64();
        ASSERT_EQ(bits_of(u), bits_of(std::ldexp(static_cast<double>(v >> 11), -53)));
        ASSERT_GE(u, 0.0);
        ASSERT_LT(u, 1.0);
    }
}

// ---------------------------------------------------------------------------
// Sampling operations.

TEST(RandomSourceBuffer, FillUniformGivesTheSameDrawsAsRepeatedUniform) {
    // Every starting offset in the buffer (odd ones through a leading next_u32)
    // and lengths that cross one or several refills.
    for (std::size_t offset = 0; offset < 66; ++offset) {
        for (std::size_t length : {0u, 1u, 2u, 31u, 32u, 33u, 100u, 257u}) {
            auto bulk = RandomSource::from_seed_u64(offset * 1000 + length);
            auto single = RandomSource::from_seed_u64(offset * 1000 + length);
            for (std::size_t k = 0; k < offset; ++k) EXPECT_EQ(bulk.next_u32(), single.next_u32());
            std::vector<double> out(length);
            bulk.fill_uniform(out);
            for (std::size_t k = 0; k < length; ++k) ASSERT_EQ(out[k], single.uniform()) << offset << " " << k;
            EXPECT_EQ(bulk.next_u64(), single.next_u64());
        }
    }
}

TEST(RandomSourceSampling, IndexBelowZeroThrowsInternalFault) {
    RandomSource rng = RandomSource::from_seed_u64(1);
    try {
        rng.index_below(0);
        FAIL() << "no exception";
    } catch (const InternalFault& e) {
        EXPECT_STREQ(e.what(), "cannot sample empty range");
    }
}

TEST(RandomSourceSampling, ChooseIndexZeroThrowsInternalFault) {
    RandomSource rng = RandomSource::from_seed_u64(1);
    try {
        rng.choose_index(0);
        FAIL() << "no exception";
    } catch (const InternalFault& e) {
        EXPECT_STREQ(e.what(), "cannot sample empty range");
    }
}

TEST(RandomSourceSampling, IndexBelowOneReturnsZeroAndConsumesOneU64PerAttempt) {
    // For n = 1 the zone is 2^63 - 1: a draw is accepted when its top bit is
    // clear, so each call takes one next_u64 per attempt, at least one.
    RandomSource a = RandomSource::from_seed_u64(8);
    RandomSource b = RandomSource::from_seed_u64(8);
    int single_draw_calls = 0;
    for (int i = 0; i < 100; ++i) {
        ASSERT_EQ(a.index_below(1), 0u);
        int attempts = 1;
        while (b.next_u64() >> 63) ++attempts;
        single_draw_calls += attempts == 1;
        ASSERT_EQ(a.next_u32(), b.next_u32());
    }
    EXPECT_GT(single_draw_calls, 0);
}

TEST(RandomSourceSampling, ChooseIndexOneReturnsZeroAndConsumesOneU32PerAttempt) {
    // The 32-bit zone for n = 1 is 2^31 - 1.
    RandomSource a = RandomSource::from_seed_u64(8);
    RandomSource b = RandomSource::from_seed_u64(8);
    for (int i = 0; i < 100; ++i) {
        ASSERT_EQ(a.choose_index(1), 0u);
        while (b.next_u32() >> 31) {
        }
        ASSERT_EQ(a.next_u32(), b.next_u32());
    }
}

TEST(RandomSourceSampling, IndexBelowStaysInRange) {
    RandomSource rng = RandomSource::from_seed_u64(31);
    const std::uint64_t sizes[] = {2, 3, 7, 1000, 0x100000001ULL, 0x8000000000000001ULL,
                                   std::numeric_limits<std::uint64_t>::max()};
    for (std::uint64_t n : sizes)
        for (int i = 0; i < 200; ++i) ASSERT_LT(rng.index_below(n), n);
}

TEST(RandomSourceSampling, ChooseIndexMatchesThirtyTwoBitRejection) {
    // Recomputes the 32-bit widening-multiply rejection from raw next_u32 draws.
    RandomSource a = RandomSource::from_seed_u64(17);
    RandomSource b = RandomSource::from_seed_u64(17);
    const std::uint32_t sizes[] = {2, 3, 5, 52, 1000, 0x80000001u, 0xFFFFFFFFu};
    for (std::uint32_t n : sizes) {
        for (int i = 0; i < 200; ++i) {
            const std::uint32_t zone = (n << std::countl_zero(n)) - 1;
            std::uint64_t m;
            do {
                m = static_cast<std::uint64_t>(b.next_u32()) * n;
            } while (static_cast<std::uint32_t>(m) > zone);
            ASSERT_EQ(a.choose_index(n), m >> 32) << "n = " << n;
        }
    }
}

TEST(RandomSourceSampling, ChooseIndexAboveThirtyTwoBitsUsesIndexBelow) {
    if constexpr (sizeof(std::size_t) < 8) GTEST_SKIP() << "size_t is 32 bits";
    RandomSource a = RandomSource::from_seed_u64(19);
    RandomSource b = RandomSource::from_seed_u64(19);
    const std::uint64_t n = 0x100000000ULL;
    for (int i = 0; i < 100; ++i) ASSERT_EQ(a.choose_index(static_cast<std::size_t>(n)), b.index_below(n));
}

TEST(RandomSourceSampling, ShuffleOfLengthZeroOrOneDrawsNothing) {
    RandomSource a = RandomSource::from_seed_u64(4);
    RandomSource b = RandomSource::from_seed_u64(4);
    std::vector<int> empty;
    std::vector<int> one = {42};
    a.shuffle(std::span<int>(empty));
    a.shuffle(std::span<int>(one));
    EXPECT_EQ(one, std::vector<int>{42});
    for (int i = 0; i < 100; ++i) ASSERT_EQ(a.next_u32(), b.next_u32());
}

TEST(RandomSourceSampling, ShuffleOfTwoDrawsOneU32PerAttemptAndSwapsOnIndexZero) {
    RandomSource a = RandomSource::from_seed_u64(6);
    RandomSource b = RandomSource::from_seed_u64(6);
    int swaps = 0;
    for (int i = 0; i < 200; ++i) {
        std::array<int, 2> pair = {10, 20};
        a.shuffle(std::span<int>(pair));
        // One word per attempt; with n = 2 the zone is 2^31 - 1 on the low half of word * 2.
        std::uint64_t m;
        do {
            m = static_cast<std::uint64_t>(b.next_u32()) * 2;
        } while (static_cast<std::uint32_t>(m) > 0x7FFFFFFFu);
        const bool swap = (m >> 32) == 0;
        ASSERT_EQ(pair, (swap ? (std::array<int, 2>{20, 10}) : (std::array<int, 2>{10, 20})));
        swaps += swap;
        ASSERT_EQ(a.next_u32(), b.next_u32());
    }
    EXPECT_GT(swaps, 0);
    EXPECT_LT(swaps, 200);
}

TEST(RandomSourceSampling, ShuffleIsAPermutation) {
    RandomSource rng = RandomSource::from_seed_u64(123);
    std::vector<int> items(1000);
    std::iota(items.begin(), items.end(), 0);
    rng.shuffle(std::span<int>(items));
    std::vector<int> sorted = items;
    std::sort(sorted.begin(), sorted.end());
    std::vector<int> expected(1000);
    std::iota(expected.begin(), expected.end(), 0);
    EXPECT_EQ(sorted, expected);
    EXPECT_NE(items, expected);
}

}  // namespace
