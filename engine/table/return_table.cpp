#include "engine/table/return_table.h"

#include <cmath>
#include <cstring>
#include <string>

#include "text/fields.h"
#include "text/input_stream.h"
#include "text/int_conversion.h"
#include "text/line_reader.h"

namespace empricer {

Failure tooManyRows(std::string_view fileName) {
  return contentFailure(fileName, "more than " + std::to_string(kTableCapacity) + " rows");
}

Status loadReturnTable(ReturnTable& table, const char* path) {
  InputStream stream;
  openForReading(stream, path);
  if (!isOpen(stream)) return openFailure(path);
  return readReturnTable(table, stream, path);
}

Status readReturnTable(ReturnTable& table, InputStream& stream, const char* name) {
  std::memset(table.returns, 0, sizeof table.returns);
  std::memset(table.weights, 0, sizeof table.weights);
  std::memset(table.cumulative, 0, sizeof table.cumulative);

  std::int32_t i = 0;
  bool tooMany = false;
  LineBuffer line{};
  while (!stream.endOfFile) {
    readLine(stream, line);
    if (isEmptyLine(line)) continue;
    if (i == kTableCapacity) {
      tooMany = true;
      break;
    }
    table.returns[i] = fieldByComma(line, 1);
    table.weights[i] = fieldByComma(line, 2);
    table.cumulative[i] = i == 0 ? table.weights[i] : table.weights[i] + table.cumulative[i - 1];
    ++i;
  }
  closeStream(stream);

  if (tooMany) return tooManyRows(name);
  if (i == 0) return contentFailure(name, "no data rows");
  table.rowCount = i;
  table.totalWeight = table.cumulative[i - 1];
  if (!std::isfinite(table.totalWeight) || !truncateToInt32(table.totalWeight)) {
    return contentFailure(name, "total weight out of range");
  }
  return {};
}

std::int32_t drawFromOutput(int r, std::int32_t lo, std::int32_t hi) {
  const double span = static_cast<double>(static_cast<std::int64_t>(hi) - lo);
  const double x = static_cast<double>(r) * kDrawScale * span + static_cast<double>(lo);
  return truncateSaturated(x);
}

std::int32_t uniformDraw(RandomGenerator& generator, std::int32_t lo, std::int32_t hi) {
  return drawFromOutput(nextRandom(generator), lo, hi);
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

}  // namespace empricer
