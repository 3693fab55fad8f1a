// A clock that moves in fixed steps, for whole runs replayed exactly.
#pragma once

#include <cstdint>

#include "runs/clock.h"

namespace empricer {

// Reading k gives start + k * step.
struct SteppingClock final : Clock {
  SteppingClock(std::int64_t startSeconds, std::int64_t stepSeconds)
      : start(startSeconds), step(stepSeconds) {}
  std::int64_t now() override { return start + step * readings++; }
  std::int64_t start;
  std::int64_t step;
  std::int64_t readings = 0;
};

}  // namespace empricer
