// The 15-bit generator.
#include <gtest/gtest.h>

#include <cstdint>

#include "engine/table/random_generator.h"

using namespace empricer;

namespace {

TEST(RandomGenerator, FirstOutputsFromStateOne) {
  RandomGenerator generator;
  EXPECT_EQ(generator.state, 1u);  // an unseeded generator starts from state 1
  EXPECT_EQ(nextRandom(generator), 41);
  EXPECT_EQ(nextRandom(generator), 18467);
  EXPECT_EQ(nextRandom(generator), 6334);
  seedRandom(generator, 1);  // seeding starts the sequence again
  EXPECT_EQ(nextRandom(generator), 41);
}

TEST(RandomGenerator, StateWrapsModulo2To32AndOutputDropsTheTopBit) {
  // 0xFFFFFFFF * 214013 + 2531011 = 2531011 - 214013 = 2316998 (mod 2^32); 2316998 >> 16 = 35.
  RandomGenerator generator;
  seedRandom(generator, 0xFFFFFFFFu);
  EXPECT_EQ(nextRandom(generator), 35);
  EXPECT_EQ(generator.state, 2316998u);
  // The state before 0xFFFF0000, found with the inverse of the multiplier: bit 31 of the new
  // state is set and must not reach the output.
  constexpr std::uint32_t inverse = 0xB9B33155u;
  static_assert(214013u * inverse == 1u);
  const std::uint32_t target = 0xFFFF0000u;
  seedRandom(generator, (target - 2531011u) * inverse);
  EXPECT_EQ(nextRandom(generator), 0x7FFF);
  EXPECT_EQ(generator.state, target);
}

}  // namespace
