// RandomSource: the recorded vectors on every ChaCha kernel this machine runs, the
// kernels against each other where the vectors cannot reach (counter carries),
// the bulk draw against single draws, and the edges no recorded op touches.
#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cstdlib>
#include <fstream>
#include <numeric>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "core/chacha_blocks.hpp"
#include "core/error.hpp"
#include "core/random_source.hpp"
#include "core/wide_multiply.hpp"

namespace hivekit {
namespace {

using detail::ChachaPath;
using Json = nlohmann::json;
using Words = std::vector<std::uint64_t>;

// A missing or unreadable file fails every test that reads it: skipping would let a broken checkout pass.
const Json& vectors() {
    static const Json doc = [] {
        std::ifstream in(HIVEKIT_TEST_DATA_DIR "/random_source.json");
        if (!in) throw std::runtime_error("cannot read " HIVEKIT_TEST_DATA_DIR "/random_source.json");
        return Json::parse(in);
    }();
    return doc;
}

// A recorded value as words: 64-bit values may be decimal strings, where a JSON
// reader might round them through a double; a uniform is float.hex() text, compared bit for bit.
Words words(const Json& v) {
    Words out;
    for (const Json& w : v.is_array() ? v : Json::array({v})) {
        const std::string text = w.is_string() ? w.get<std::string>() : "";
        if (text.find('p') != std::string::npos)
            out.push_back(std::bit_cast<std::uint64_t>(std::strtod(text.c_str(), nullptr)));
        else
            out.push_back(w.is_string() ? std::stoull(text) : w.get<std::uint64_t>());
    }
    return out;
}
std::uint64_t u64(const Json& v) { return words(v).at(0); }

// One recorded op's result; a shuffle shuffles the list 0 .. n-1.
Words apply(RandomSource& rng, const Json& op) {
    const std::string name = op.at(0).get<std::string>();
    if (name == "next_u64") return {rng.next_u64()};
    if (name == "next_u32") return {rng.next_u32()};
    if (name == "uniform") return {std::bit_cast<std::uint64_t>(rng.uniform())};
    if (name == "index_below") return {rng.index_below(u64(op.at(1)))};
    if (name == "choose") return {rng.choose_index(u64(op.at(1)))};
    if (name != "shuffle") throw std::runtime_error("unknown op " + name);
    Words items(u64(op.at(1)));
    std::iota(items.begin(), items.end(), std::uint64_t{0});
    rng.shuffle(std::span<std::uint64_t>(items));
    return items;
}

std::vector<ChachaPath> available_paths() {
    std::vector<ChachaPath> paths;
    for (ChachaPath p : {ChachaPath::Scalar, ChachaPath::Sse2, ChachaPath::Avx2})
        if (detail::chacha_path_available(p)) paths.push_back(p);
    return paths;
}

struct PathGuard {  // forces a kernel for its lifetime
    ChachaPath saved = detail::active_chacha_path();
    explicit PathGuard(ChachaPath p) {
        if (!detail::set_chacha_path(p)) throw std::runtime_error("path not available");
    }
    ~PathGuard() { detail::set_chacha_path(saved); }
};

class RandomSourceVectors : public testing::TestWithParam<ChachaPath> {};

TEST_P(RandomSourceVectors, SeedsGiveTheRecordedKeysAndDraws) {
    PathGuard guard(GetParam());
    const Json& cases = vectors().at("cases");
    ASSERT_GT(cases.size(), 0u);
    for (const Json& c : cases) {
        SCOPED_TRACE("seed " + c.at("seed").dump());
        RandomSource rng = RandomSource::from_seed_u64(u64(c.at("seed")));
        EXPECT_EQ(Words(rng.key().begin(), rng.key().end()), words(c.at("key_words")));
        const Json &ops = c.at("ops"), &expect = c.at("expect");
        ASSERT_EQ(ops.size(), expect.size());
        for (std::size_t i = 0; i < ops.size(); ++i) EXPECT_EQ(apply(rng, ops[i]), words(expect[i])) << i << ops[i].dump();
    }
    EXPECT_EQ(RandomSource::from_key({}).next_u64(), u64(vectors().at("zero_key_first_u64").at("expect")));
}

INSTANTIATE_TEST_SUITE_P(ChachaPaths, RandomSourceVectors, testing::ValuesIn(available_paths()),
                         [](const auto& info) { return std::string(detail::chacha_path_name(info.param)); });

TEST(ChachaKernels, AgreeOnBlocksWhoseCounterCarriesIntoTheHighWordOrWraps) {
    RandomSource::Key key{};
    for (std::size_t i = 0; i < key.size(); ++i) key[i] = 0x9e3779b9u * static_cast<std::uint32_t>(i + 1);
    for (std::uint64_t counter : {0ULL, 1000ULL, 0xFFFFFFFCULL, 0xFFFFFFFEULL, 0xFFFFFFFFFFFFFFF9ULL}) {
        SCOPED_TRACE(counter);
        std::array<std::uint32_t, 128> scalar{};
        detail::chacha12_blocks4_scalar(key.data(), counter, scalar.data());
        detail::chacha12_blocks4_scalar(key.data(), counter + 4, scalar.data() + 64);
#if HIVEKIT_CHACHA_X86_64
        std::array<std::uint32_t, 128> other{};
#endif
#if HIVEKIT_CHACHA_HAVE_SSE2
        detail::chacha12_blocks4_sse2(key.data(), counter, other.data());
        detail::chacha12_blocks4_sse2(key.data(), counter + 4, other.data() + 64);
        EXPECT_EQ(other, scalar);
#endif
#if HIVEKIT_CHACHA_HAVE_AVX2
        if (detail::chacha_path_available(ChachaPath::Avx2)) {
            detail::chacha12_blocks8_avx2(key.data(), counter, other.data(), other.data() + 64);
            EXPECT_EQ(other, scalar);
        }
#endif
    }
    // Blocks 2^32 and 2^32 + 1 are not blocks 0 and 1: the counter is 64 bits wide.
    std::array<std::uint32_t, 64> across{}, low{};
    detail::chacha12_blocks4_scalar(key.data(), 0xFFFFFFFEULL, across.data());
    detail::chacha12_blocks4_scalar(key.data(), 0, low.data());
    EXPECT_FALSE(std::equal(across.begin() + 32, across.end(), low.begin()));
    EXPECT_EQ(detail::best_chacha_path(), available_paths().back());
    for (ChachaPath p : {ChachaPath::Sse2, ChachaPath::Avx2})
        if (!detail::chacha_path_available(p)) {
            EXPECT_FALSE(detail::set_chacha_path(p));
        }
}

// Every starting offset in the buffer, lengths across one or several refills.
TEST(RandomSource, FillUniformGivesTheDrawsOfRepeatedUniform) {
    for (std::size_t offset = 0; offset < 66; ++offset) {
        for (std::size_t length : {0u, 1u, 31u, 32u, 33u, 257u}) {
            auto bulk = RandomSource::from_seed_u64(offset), single = RandomSource::from_seed_u64(offset);
            for (std::size_t k = 0; k < offset; ++k) ASSERT_EQ(bulk.next_u32(), single.next_u32());
            std::vector<double> out(length);
            bulk.fill_uniform(out);
            for (std::size_t k = 0; k < length; ++k) ASSERT_EQ(out[k], single.uniform()) << offset << " " << k;
            EXPECT_EQ(bulk.next_u64(), single.next_u64());
        }
    }
}

TEST(RandomSource, EdgesNoRecordedOpReaches) {
    RandomSource rng = RandomSource::from_seed_u64(1), twin = RandomSource::from_seed_u64(1);
    EXPECT_THROW(rng.index_below(0), InternalFault);
    EXPECT_THROW(rng.choose_index(0), InternalFault);
    for (int i = 0; i < 100; ++i)  // beyond 32 bits a choice is an index_below draw
        ASSERT_EQ(rng.choose_index(std::size_t{1} << 32), twin.index_below(std::uint64_t{1} << 32));
}

// The system's entropy, read in its own way on each platform: two keys taken
// from it are equal, or all zero, with probability 2^-256.
TEST(RandomSource, EntropyGivesAFreshKeyEachTime) {
    const RandomSource a = RandomSource::from_entropy(), b = RandomSource::from_entropy();
    EXPECT_NE(a.key(), b.key());
    EXPECT_NE(a.key(), RandomSource::Key{});
}

// The product behind index_below: the halves form used where the compiler has
// no 128-bit product, against known products and against the native form.
TEST(WideMultiply, HalvesGiveTheKnownProductsAndAgreeWithTheNativeForm) {
    constexpr std::uint64_t kMax = ~std::uint64_t{0};
    for (auto [a, b, high, low] : {std::array<std::uint64_t, 4>{0, kMax, 0, 0},
                                   {kMax, kMax, kMax - 1, 1},  // (2^64 - 1)^2 = 2^128 - 2^65 + 1
                                   {std::uint64_t{1} << 32, std::uint64_t{1} << 32, 1, 0},
                                   {0xFFFFFFFFu, 0xFFFFFFFFu, 0, 0xFFFFFFFE00000001u},
                                   {kMax, 3, 2, kMax - 2}}) {
        const detail::WideProduct halves = detail::multiply_wide_halves(a, b);
        EXPECT_EQ(halves.high, high) << a << " * " << b;
        EXPECT_EQ(halves.low, low) << a << " * " << b;
    }
    RandomSource rng = RandomSource::from_seed_u64(5);
    for (int i = 0; i < 10000; ++i) {
        // Operands of every width, so that every carry between the halves occurs.
        const std::uint64_t a = rng.next_u64() >> rng.index_below(64), b = rng.next_u64() >> rng.index_below(64);
        const detail::WideProduct native = detail::multiply_wide(a, b), halves = detail::multiply_wide_halves(a, b);
        ASSERT_EQ(native.high, halves.high) << a << " * " << b;
        ASSERT_EQ(native.low, halves.low) << a << " * " << b;
        ASSERT_EQ(native.low, a * b);
    }
}

}  // namespace
}  // namespace hivekit
