// Conversions from double to 32-bit integers that are defined for every input.
#pragma once

#include <cstdint>
#include <optional>

namespace empricer {

// The value truncated toward zero, or nothing when it is NaN, infinite or its integer part
// lies outside the 32-bit signed range.
std::optional<std::int32_t> truncateToInt32(double value);

// The value truncated toward zero and held to the 32-bit signed range; NaN gives 0.
std::int32_t truncateSaturated(double value);

}  // namespace empricer
