// The process-wide 15-bit linear congruential generator that every simulation step draws
// from: state = state * 214013 + 2531011 (mod 2^32), output bits 16 to 30 of the new state.
#pragma once

#include <cstdint>

constexpr std::uint32_t kRandomMultiplier = 214013u;
constexpr std::uint32_t kRandomIncrement = 2531011u;

void seedRandom(std::uint32_t seed);
int nextRandom();

// The state itself, for engines that run the generator in registers and hand it back.
std::uint32_t randomState();
void setRandomState(std::uint32_t state);

inline std::uint32_t advanceRandomState(std::uint32_t state) {
  return state * kRandomMultiplier + kRandomIncrement;
}
inline int randomOutput(std::uint32_t state) { return static_cast<int>((state >> 16) & 0x7FFFu); }
