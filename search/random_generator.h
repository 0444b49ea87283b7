#pragma once

#include <cstdint>

namespace weftloom {

// The synthesis run's pseudo-random generator: a 32-bit linear congruential
// generator whose draws are 15-bit values 0..32767. Each run owns one, so runs
// with equal inputs and seed repeat exactly on every machine and thread count.
// Not synchronised: one thread draws from it at a time.
class RandomGenerator {
  public:
    static constexpr std::uint32_t kDefaultSeed = 1;
    static constexpr std::uint32_t kMaxValue = 0x7FFF;

    explicit RandomGenerator(std::uint32_t seed = kDefaultSeed) : state_(seed) {}

    void Seed(std::uint32_t seed) { state_ = seed; }
    std::uint32_t State() const { return state_; }

    // Advances the state and returns the next value, 0..32767.
    std::uint32_t Next() {
        state_ = state_ * 214013u + 2531011u;
        return (state_ >> 16) & kMaxValue;
    }

  private:
    std::uint32_t state_;
};

}  // namespace weftloom
