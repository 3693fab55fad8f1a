// The return for every possible generator output, built once per valuation so that each
// simulation step is one lookup. It gives exactly what sampleReturn gives for the same draw.
#pragma once

#include <cstdint>

#include "engine/table/random_generator.h"
#include "engine/table/return_table.h"

namespace empricer {


struct DrawTable {
  double returnFor[kGeneratorOutputs];
};

// Fills `draws` for uniformDraw(0, hi) over `table`, in O(outputs + rows log outputs).
void buildDrawTable(const ReturnTable& table, std::int32_t hi, DrawTable& draws);

// The population standard deviation of the 32768 equally likely draws.
double drawDeviation(const DrawTable& draws);

}  // namespace empricer
