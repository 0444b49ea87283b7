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

    static constexpr std::uint32_t kMultiplier = 214013u;
    static constexpr std::uint32_t kIncrement = 2531011u;

    // Advances the state and returns the next value, 0..32767.
    std::uint32_t Next() {
        state_ = state_ * kMultiplier + kIncrement;
        return (state_ >> 16) & kMaxValue;
    }

    // Advances the state past `steps` draws at once, as that many Next calls would.
    void Skip(std::uint64_t steps) { state_ = Advance(state_, steps); }

    // The state `steps` draws after `state` (jump-ahead by repeated squaring of
    // the affine step: O(log steps)).
    static constexpr std::uint32_t Advance(std::uint32_t state, std::uint64_t steps) {
        std::uint32_t multiplier = kMultiplier;
        std::uint32_t increment = kIncrement;
        while (steps != 0) {
            if ((steps & 1u) != 0) {
                state = state * multiplier + increment;
            }
            increment = (multiplier + 1u) * increment;
            multiplier *= multiplier;
            steps >>= 1;
        }
        return state;
    }

  private:
    std::uint32_t state_;
};

}  // namespace weftloom
