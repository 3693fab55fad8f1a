// Constants written as expressions are bit for bit the decimal literals they stand for.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>

#include "runs/settings.h"
#include "engine/valuation/constants.h"
#include "engine/table/return_table.h"

using namespace empricer;

namespace {

std::uint64_t bits(double v) { return std::bit_cast<std::uint64_t>(v); }

TEST(Constants, ExpressionsEqualTheirDecimalLiterals) {
  EXPECT_EQ(bits(kOneOverStepsPerDay), bits(0.003703703703703704));
  EXPECT_EQ(bits(kDrawScale), bits(0.00003051850947599719));
  EXPECT_EQ(bits(kLowerBand), bits(0.9345794392523364));
}

}  // namespace
