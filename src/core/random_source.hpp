// Seeded pseudo-random generator of one optimiser run: ChaCha with 12 rounds,
// keyed by a PCG32 expansion of a 64-bit seed (or by operating-system
// entropy), read through a 64-word buffer holding four consecutive blocks.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>

namespace hivekit {

class RandomSource {
public:
    using Key = std::array<std::uint32_t, 8>;
    static constexpr std::size_t kBufferWords = 64;

    static RandomSource from_seed_u64(std::uint64_t seed);
    // Throws InternalFault "from_entropy failed: ..." when the system has no entropy to give.
    static RandomSource from_entropy();
    static RandomSource from_key(const Key& key);

    const Key& key() const { return key_; }

    std::uint32_t next_u32() {
        if (index_ >= kBufferWords) {
            refill();
            index_ = 0;
        }
        return buffer_[index_++];
    }

    std::uint64_t next_u64() {
        std::uint64_t lo, hi;
        if (index_ < kBufferWords - 1) {
            lo = buffer_[index_];
            hi = buffer_[index_ + 1];
            index_ += 2;
        } else if (index_ == kBufferWords - 1) {
            lo = buffer_[kBufferWords - 1];
            refill();
            hi = buffer_[0];
            index_ = 1;
        } else {
            refill();
            lo = buffer_[0];
            hi = buffer_[1];
            index_ = 2;
        }
        return (hi << 32) | lo;
    }

    // Double in [0, 1): the top 53 bits of next_u64() scaled by 2^-53.
    double uniform() { return static_cast<double>(next_u64() >> 11) * 0x1.0p-53; }

    // Integer in [0, n) by widening multiplication with rejection; n must be at least 1
    // (n = 0 throws InternalFault "cannot sample empty range").
    std::uint64_t index_below(std::uint64_t n);

    // Index of a uniformly chosen element of a list of length n (32-bit draws while n fits).
    std::size_t choose_index(std::size_t n);

    template <class T>
    void shuffle(std::span<T> items) {
        for (std::size_t i = items.size(); i-- > 1;) {
            std::size_t j = choose_index(i + 1);
            std::swap(items[i], items[j]);
        }
    }

private:
    explicit RandomSource(const Key& key);
    void refill();

    Key key_{};
    std::uint64_t counter_ = 0;
    std::size_t index_ = kBufferWords;
    alignas(64) std::array<std::uint32_t, kBufferWords> buffer_{};
    // Blocks computed ahead by a wide kernel but not yet served; see refill().
    alignas(64) std::array<std::uint32_t, kBufferWords> ahead_{};
    bool has_ahead_ = false;
};

}  // namespace hivekit
