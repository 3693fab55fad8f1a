// The report of a build: the counts, and the moments per step of the data and of the table as
// the sampler draws it.
#pragma once

#include <cstdint>
#include <string>

#include "builder/moments.h"

// The table must draw a mean within this many of the data's standard deviations of the data's
// mean, and a standard deviation within this share of the data's.
constexpr double kMeanBound = 0.01;
constexpr double kSpreadBound = 0.01;

struct DistFigures {
  std::string pricesFile;
  std::string priceColumn;
  std::string sessionColumn;  // empty without sessions
  std::int64_t priceCount = 0;
  std::int64_t returnCount = 0;
  std::int64_t sessionCount = 0;
  int rows = 0;
  int maxRows = 0;
  std::string tableFile;
  Moments data;
  Moments table;  // over every generator output
};

// |table mean - data mean| in data standard deviations.
double meanMiss(const DistFigures& figures);
// |table sd / data sd - 1|.
double spreadMiss(const DistFigures& figures);
bool meetsBounds(const DistFigures& figures);

std::string reportText(const DistFigures& figures);
// One line, without the program's name, saying how far the table misses the bounds.
std::string boundsWarning(const DistFigures& figures);
