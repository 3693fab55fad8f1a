#include "engine/return_table.h"

#include <cmath>
#include <cstring>

#include "input/fields.h"
#include "input/int_conversion.h"
#include "input/input_stream.h"
#include "input/line_reader.h"
#include "input/random_generator.h"
#include "input/stop.h"

void loadReturnTable(ReturnTable& table, const char* path) {
  std::memset(table.returns, 0, sizeof table.returns);
  std::memset(table.weights, 0, sizeof table.weights);
  std::memset(table.cumulative, 0, sizeof table.cumulative);

  InputStream stream;
  openForReading(stream, path);
  requireOpen(stream, path);

  std::int32_t i = 0;
  LineBuffer line{};
  forEachLine(stream, line, [&](const LineBuffer& text) {
    if (i == kTableCapacity) stopProgram("Error in dist.csv: more than 5000 rows");
    table.returns[i] = fieldByComma(text, 1);
    table.weights[i] = fieldByComma(text, 2);
    table.cumulative[i] = i == 0 ? table.weights[i] : table.weights[i] + table.cumulative[i - 1];
    ++i;
  });
  closeStream(stream);

  if (i == 0) stopProgram("Error in dist.csv: no data rows");
  table.rowCount = i;
  table.totalWeight = table.cumulative[i - 1];
  if (!std::isfinite(table.totalWeight) || !truncateToInt32(table.totalWeight)) {
    stopProgram("Error in dist.csv: total weight out of range");
  }
}

std::int32_t drawFromOutput(int r, std::int32_t lo, std::int32_t hi) {
  const double span = static_cast<double>(static_cast<std::int64_t>(hi) - lo);
  const double x = static_cast<double>(r) * kDrawScale * span + static_cast<double>(lo);
  return truncateSaturated(x);
}

std::int32_t uniformDraw(std::int32_t lo, std::int32_t hi) {
  return drawFromOutput(nextRandom(), lo, hi);
}

std::int32_t tableLastIndex(const double* cumulative) {
  if (cumulative[0] == 0.0) return 0;
  std::int32_t i = 1;
  while (i < kTableCapacity && cumulative[i] != 0.0) ++i;
  return i - 1;
}

double returnForMatch(const ReturnTable& table, std::int32_t found, std::int32_t last, double u) {
  if (found < 0 || found > last) return table.returns[last];
  const double* c = table.cumulative;
  const double* r = table.returns;
  if (found >= 1 && c[found - 1] == c[found]) return r[found - 1];
  return r[found] + (r[found + 1] - r[found]) / (c[found + 1] - c[found]) * (u - c[found]);
}

double sampleReturn(const ReturnTable& table, double u) {
  const std::int32_t last = tableLastIndex(table.cumulative);
  std::int32_t found = -1;
  for (std::int32_t i = 0; i + 1 < table.rowCount; ++i) {
    if (table.cumulative[i] <= u && u < table.cumulative[i + 1]) {
      found = i;
      break;
    }
  }
  return returnForMatch(table, found, last, u);
}
