// Jumping the process-wide generator ahead: n steps of state -> a * state + c (mod 2^32)
// compose into one step state -> A_n * state + C_n, found by repeated squaring in O(log n).
// This lets several trajectories start side by side, each from the state the one-at-a-time
// loop would have reached when that trajectory began.
#pragma once

#include <cstdint>

#include "engine/table/random_generator.h"

namespace empricer {

struct RandomJump {
  std::uint32_t multiplier = 1;  // A_n
  std::uint32_t increment = 0;   // C_n
};

// The state n draws after `state`.
constexpr std::uint32_t applyJump(const RandomJump& jump, std::uint32_t state) {
  return jump.multiplier * state + jump.increment;
}

// First `first`, then `second`.
constexpr RandomJump composeJumps(const RandomJump& first, const RandomJump& second) {
  return {second.multiplier * first.multiplier,
          second.multiplier * first.increment + second.increment};
}

// The jump over n draws. The state's period is 2^32, so only n modulo 2^32 matters, and a
// count that wrapped around in 64-bit arithmetic still gives the right jump. (The outputs
// repeat sooner, every 2^31 draws: see kOutputPeriod.)
constexpr RandomJump randomJump(std::uint64_t n) {
  RandomJump result;                                   // identity
  RandomJump power{kRandomMultiplier, kRandomIncrement};  // 2^k draws
  for (std::uint32_t k = static_cast<std::uint32_t>(n); k != 0; k >>= 1) {
    if (k & 1u) result = composeJumps(result, power);
    power = composeJumps(power, power);
  }
  return result;
}

}  // namespace empricer
