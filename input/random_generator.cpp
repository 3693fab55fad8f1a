#include "input/random_generator.h"

namespace {
std::uint32_t generatorState = 1;
}

void seedRandom(std::uint32_t seed) { generatorState = seed; }

int nextRandom() {
  generatorState = advanceRandomState(generatorState);
  return randomOutput(generatorState);
}

std::uint32_t randomState() { return generatorState; }
void setRandomState(std::uint32_t state) { generatorState = state; }
