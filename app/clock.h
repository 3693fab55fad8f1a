// The wall clock in whole seconds since 1970-01-01 UTC, behind an interface so that runs can
// be replayed with a clock that moves in fixed steps.
#pragma once

#include <cstdint>
#include <ctime>

struct Clock {
  virtual ~Clock() = default;
  virtual std::int64_t now() = 0;
};

struct SystemClock final : Clock {
  std::int64_t now() override { return static_cast<std::int64_t>(std::time(nullptr)); }
};

// Reading k gives start + k * step.
struct SteppingClock final : Clock {
  SteppingClock(std::int64_t startSeconds, std::int64_t stepSeconds)
      : start(startSeconds), step(stepSeconds) {}
  std::int64_t now() override { return start + step * readings++; }
  std::int64_t start;
  std::int64_t step;
  std::int64_t readings = 0;
};
