// The wall clock in whole seconds since 1970-01-01 UTC, behind an interface so that runs can
// be replayed with a clock that moves in fixed steps.
#pragma once

#include <cstdint>
#include <ctime>

namespace empricer {

struct Clock {
  virtual ~Clock() = default;
  virtual std::int64_t now() = 0;
};

struct SystemClock final : Clock {
  std::int64_t now() override { return static_cast<std::int64_t>(std::time(nullptr)); }
};

}  // namespace empricer
