#include "builder/table_text.h"

#include <bit>
#include <charconv>
#include <cstdint>
#include <memory>

#include "engine/draw_table.h"

namespace empricer {

std::string tableText(const std::vector<DistRow>& rows) {
  std::string text;
  char number[64];
  for (const DistRow& row : rows) {
    const auto written = std::to_chars(number, number + sizeof number, row.ret);
    text.append(number, written.ptr);
    text.push_back(',');
    const auto weight = std::to_chars(number, number + sizeof number, row.weight);
    text.append(number, weight.ptr);
    text.push_back('\n');
  }
  return text;
}

Status checkTableHolds(const ReturnTable& table, const std::vector<DistRow>& rows,
                       const std::string& name) {
  if (table.rowCount != static_cast<std::int32_t>(rows.size())) {
    return Failure{name + ": reads back as " + std::to_string(table.rowCount) + " rows, not " +
                       std::to_string(rows.size()),
                   FailureKind::cannotWrite};
  }
  for (std::int32_t i = 0; i < table.rowCount; ++i) {
    const DistRow& row = rows[static_cast<std::size_t>(i)];
    if (std::bit_cast<std::uint64_t>(table.returns[i]) != std::bit_cast<std::uint64_t>(row.ret) ||
        table.weights[i] != static_cast<double>(row.weight)) {
      return Failure{name + ": row " + std::to_string(i + 1) + " reads back differently",
                     FailureKind::cannotWrite};
    }
  }
  return {};
}

std::vector<double> drawsOf(const ReturnTable& table) {
  auto draws = std::make_unique<DrawTable>();
  buildDrawTable(table, static_cast<std::int32_t>(table.totalWeight), *draws);
  return std::vector<double>(draws->returnFor, draws->returnFor + kGeneratorOutputs);
}

}  // namespace empricer
