// The elapsed-time line: seconds below 200 seconds, whole minutes from there on.
#pragma once

#include <cstdint>
#include <string_view>

#include "runs/clock.h"

namespace empricer {

// Reads the clock twice: the first reading decides between seconds and minutes, the second
// gives the number that is written.
void writeElapsedLine(Clock& clock, std::string_view prefix, std::int64_t since);

}  // namespace empricer
