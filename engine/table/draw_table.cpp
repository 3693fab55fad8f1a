#include "engine/table/draw_table.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

namespace empricer {

void buildDrawTable(const ReturnTable& table, std::int32_t hi, DrawTable& draws) {
  constexpr std::size_t kOutputs = kGeneratorOutputs;
  // The draw for each output. It is monotone in the output (rising for hi >= 0, falling
  // otherwise), so its distinct values come out sorted after at most one reversal.
  std::vector<std::int32_t> drawOf(kOutputs);
  for (std::size_t r = 0; r < kOutputs; ++r) drawOf[r] = drawFromOutput(static_cast<int>(r), 0, hi);
  std::vector<std::int32_t> values(drawOf);
  if (hi < 0) std::reverse(values.begin(), values.end());
  values.erase(std::unique(values.begin(), values.end()), values.end());
  const std::size_t count = values.size();

  // The scan takes the first row i with cumulative[i] <= u < cumulative[i + 1]. Going through
  // the rows in order, each row claims the draws of its interval that no earlier row claimed;
  // `nextFree` skips claimed draws (path halving keeps the chains short).
  std::vector<std::int32_t> match(count, -1);
  std::vector<std::size_t> nextFree(count + 1);
  for (std::size_t k = 0; k <= count; ++k) nextFree[k] = k;
  auto findFree = [&](std::size_t k) {
    while (nextFree[k] != k) {
      nextFree[k] = nextFree[nextFree[k]];
      k = nextFree[k];
    }
    return k;
  };
  std::size_t unclaimed = count;
  const double* c = table.cumulative;
  for (std::int32_t i = 0; i + 1 < table.rowCount && unclaimed > 0; ++i) {
    const double low = c[i];
    const double high = c[i + 1];
    if (!(low < high)) continue;  // an empty interval (or NaN) matches no draw
    const auto first = std::lower_bound(
        values.begin(), values.end(), low,
        [](std::int32_t v, double bound) { return static_cast<double>(v) < bound; });
    std::size_t k = findFree(static_cast<std::size_t>(first - values.begin()));
    while (k < count && static_cast<double>(values[k]) < high) {
      match[k] = i;
      --unclaimed;
      nextFree[k] = k + 1;
      k = findFree(k + 1);
    }
  }

  const std::int32_t last = tableLastIndex(c);
  std::vector<double> returnOfValue(count);
  for (std::size_t k = 0; k < count; ++k) {
    returnOfValue[k] = returnForMatch(table, match[k], last, static_cast<double>(values[k]));
  }
  // Walk the outputs in the order of rising draws alongside the sorted distinct draws.
  std::size_t k = 0;
  for (std::size_t step = 0; step < kOutputs; ++step) {
    const std::size_t r = hi < 0 ? kOutputs - 1 - step : step;
    while (values[k] != drawOf[r]) ++k;
    draws.returnFor[r] = returnOfValue[k];
  }
}

double drawDeviation(const DrawTable& draws) {
  double sum = 0.0;
  for (double w : draws.returnFor) sum += w;
  const double mean = sum / kGeneratorOutputs;
  double squares = 0.0;
  for (double w : draws.returnFor) squares += (w - mean) * (w - mean);
  return std::sqrt(squares / kGeneratorOutputs);
}

}  // namespace empricer
