// Seeded pseudo-random generator of one optimiser run: ChaCha with 12 rounds,
// keyed by a PCG32 expansion of a 64-bit seed (or by operating-system
// entropy), read through a 64-word buffer holding four consecutive blocks.
#pragma once

#include <algorithm>
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

    // Fills `out` with uniform() draws in order; the same values as calling
    // uniform() out.size() times, with the buffer position kept in a register.
    void fill_uniform(std::span<double> out) {
        std::size_t k = 0;
        const std::size_t n = out.size();
        while (k < n) {
            std::size_t index = index_;
            if (index + 1 >= kBufferWords) {
                out[k++] = uniform();  // refill cases
                continue;
            }
            const std::size_t pairs = std::min((kBufferWords - index) / 2, n - k);
            for (std::size_t p = 0; p < pairs; ++p, index += 2) {
                std::uint64_t word = (static_cast<std::uint64_t>(buffer_[index + 1]) << 32) | buffer_[index];
                out[k++] = static_cast<double>(word >> 11) * 0x1.0p-53;
            }
            index_ = index;
        }
    }

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
