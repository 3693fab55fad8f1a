// The 15-bit linear congruential generator that every simulation step draws from:
// state = state * 214013 + 2531011 (mod 2^32), output bits 16 to 30 of the new state.
// A generator is a plain value: its owner seeds it once and hands it by reference to every
// valuation, which advances it by one draw per simulation step.
#pragma once

#include <cstdint>

#include "engine/valuation/constants.h"

namespace empricer {

// The outputs are bits 16 to 30 of the state, and bit 31 never reaches them: the low 31 bits
// of the state follow the same recurrence mod 2^31, so the outputs repeat every 2^31 draws
// (seeds s and s + 2^31 give the same outputs), although the state's period is 2^32.
constexpr std::uint64_t kOutputPeriod = std::uint64_t{1} << 31;

// How many times a run of `draws` consecutive draws wraps around the outputs' cycle: 0 up to
// 2^31 draws, 1 up to 2^32, and so on.
constexpr std::uint64_t cycleRepeats(std::uint64_t draws) {
  return draws == 0 ? 0 : (draws - 1) / kOutputPeriod;
}

struct RandomGenerator {
  std::uint32_t state = 1;  // the state before seeding
};

inline void seedRandom(RandomGenerator& generator, std::uint32_t seed) { generator.state = seed; }

constexpr std::uint32_t advanceRandomState(std::uint32_t state) {
  return state * kRandomMultiplier + kRandomIncrement;
}
constexpr int randomOutput(std::uint32_t state) {
  return static_cast<int>((state >> 16) & 0x7FFFu);
}

// Advances the generator and returns a whole number from 0 to 32767.
inline int nextRandom(RandomGenerator& generator) {
  generator.state = advanceRandomState(generator.state);
  return randomOutput(generator.state);
}

}  // namespace empricer
