// Synthetic returns of known shapes for the tests of empricer-dist, and their moments worked
// out here independently of the program (in long double).
#pragma once

#include <cmath>
#include <cstddef>
#include <random>
#include <string>
#include <vector>


struct ReturnSample {
  std::string name;
  std::vector<double> returns;
};

// Normal, fat-tailed (Student t with 3 degrees of freedom), skewed (a shifted lognormal),
// ordinary returns with two extreme ones that carry much of the variance, and tick-sized
// returns of five values.
inline std::vector<ReturnSample> returnSamples(std::size_t count, unsigned seed) {
  std::mt19937_64 random(seed);
  std::normal_distribution<double> normal(0.0001, 0.001);
  std::student_t_distribution<double> student(3.0);
  std::lognormal_distribution<double> lognormal(0.0, 0.6);
  std::uniform_int_distribution<int> ticks(-2, 2);
  std::vector<ReturnSample> samples{{"normal", {}}, {"fat-tailed", {}}, {"skewed", {}},
                                    {"extreme", {}}, {"ticks", {}}};
  for (std::size_t i = 0; i < count; ++i) {
    samples[0].returns.push_back(normal(random));
    samples[1].returns.push_back(0.0005 * student(random));
    samples[2].returns.push_back(0.001 * (lognormal(random) - 1.2));
    samples[3].returns.push_back(i == count / 3 ? 0.05 : i == count / 2 ? -0.04 : normal(random));
    samples[4].returns.push_back(0.0001 * ticks(random));
  }
  return samples;
}

struct SampleMoments {
  double mean = 0.0;
  double standardDeviation = 0.0;
};

inline SampleMoments sampleMoments(const double* values, std::size_t count) {
  long double sum = 0.0L;
  for (std::size_t i = 0; i < count; ++i) sum += values[i];
  const long double mean = sum / static_cast<long double>(count);
  long double squares = 0.0L;
  for (std::size_t i = 0; i < count; ++i) squares += (values[i] - mean) * (values[i] - mean);
  return {static_cast<double>(mean),
          static_cast<double>(std::sqrt(squares / static_cast<long double>(count)))};
}

inline SampleMoments sampleMoments(const std::vector<double>& values) {
  return sampleMoments(values.data(), values.size());
}
