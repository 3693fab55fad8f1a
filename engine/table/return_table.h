// The empirical return distribution of "dist.csv" (one "return,weight" row per line, no
// header) and the draw of one return from it: a whole-number draw u from 0 to the total
// weight is looked up in the running sums of the weights, with linear interpolation between
// rows, so a row's cumulative weight is the point at which its return is reached exactly.
#pragma once

#include <cstdint>
#include <string_view>

#include "engine/table/random_generator.h"
#include "text/input_stream.h"
#include "text/status.h"

namespace empricer {

constexpr int kTableCapacity = 5000;
// The double nearest 1/32767, which scales a generator output to the unit interval.
constexpr double kDrawScale = 1.0 / 32767;

struct ReturnTable {
  double returns[kTableCapacity];
  double weights[kTableCapacity];
  double cumulative[kTableCapacity];
  std::int32_t rowCount;
  double totalWeight;
};

// The failure of a distribution file with more data rows than a table holds:
// "Error in NAME: more than 5000 rows".
Failure tooManyRows(std::string_view fileName);

// Fills the table from the distribution file at `path`. Fails, with the message the program
// stops with, when the file cannot be opened, holds no data row or more than kTableCapacity
// rows, or when the total weight is not finite or outside the 32-bit range.
Status loadReturnTable(ReturnTable& table, const char* path);
// The same from the lines of an open stream; `name` is the file's name in the messages.
Status readReturnTable(ReturnTable& table, InputStream& stream, const char* name);

// One generator output scaled to a whole number from lo to hi.
std::int32_t drawFromOutput(int r, std::int32_t lo, std::int32_t hi);
// Takes one number from the generator.
std::int32_t uniformDraw(RandomGenerator& generator, std::int32_t lo, std::int32_t hi);

// Index just before the first cumulative weight of 0.0 from index 1 on; 0 when the first
// cumulative weight is 0.0.
std::int32_t tableLastIndex(const double* cumulative);

// The return for draw u, by a linear scan from the first row.
double sampleReturn(const ReturnTable& table, double u);

// The return for draw u once the scan has found `found` (-1 for no match); `last` is the
// table's last index. Shared with the per-draw table so that both give the same bits.
double returnForMatch(const ReturnTable& table, std::int32_t found, std::int32_t last, double u);

}  // namespace empricer
