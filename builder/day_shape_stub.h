// Stand-in for engine/day_shape.h until the engine's lands: the moments of one day of the base
// path, by enumeration for one step a day and by a fixed-seed simulation otherwise.
#pragma once

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "engine/constants.h"
#include "engine/draw_table.h"

namespace empricer {

struct DayShape {
  double mean, deviation, skewness, excessKurtosis;
  double bandShare;
};

inline DayShape dayShapeOf(const DrawTable& draws, int stepsPerDay) {
  std::vector<double> days;
  double cuts = 0.0;
  const auto day = [&](auto next) {
    double s = 1.0;
    bool cut = false;
    for (int k = 0; k < stepsPerDay; ++k) {
      s *= 1.0 + next();
      if (s > kUpperBand || s < kLowerBand) cut = true;
      s = std::clamp(s, kLowerBand, kUpperBand);
    }
    days.push_back(s - 1.0);
    if (cut) cuts += 1.0;
  };
  if (stepsPerDay == 1) {
    for (int i = 0; i < kGeneratorOutputs; ++i) day([&] { return draws.returnFor[i]; });
  } else {
    std::mt19937 random(7);
    std::uniform_int_distribution<int> output(0, kGeneratorOutputs - 1);
    for (int i = 0; i < 20000; ++i) day([&] { return draws.returnFor[output(random)]; });
  }
  const double n = static_cast<double>(days.size());
  double mean = 0.0;
  for (double d : days) mean += d;
  mean /= n;
  double m2 = 0.0, m3 = 0.0, m4 = 0.0;
  for (double d : days) {
    const double e = d - mean;
    m2 += e * e / n;
    m3 += e * e * e / n;
    m4 += e * e * e * e / n;
  }
  const double sd = std::sqrt(m2);
  return DayShape{mean, sd, m3 / (m2 * sd), m4 / (m2 * m2) - 3.0, cuts / n};
}

}  // namespace empricer
