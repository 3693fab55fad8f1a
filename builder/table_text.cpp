#include "builder/table_text.h"

#include <bit>
#include <charconv>
#include <cstdint>
#include <memory>

#include "engine/table/draw_table.h"
#include "text/input_stream.h"

namespace empricer {

namespace {

template <typename Row>
std::string textOf(const std::vector<Row>& rows) {
  std::string text;
  char number[64];
  for (const Row& row : rows) {
    const auto written = std::to_chars(number, number + sizeof number, row.ret);
    text.append(number, written.ptr);
    text.push_back(',');
    const auto weight = std::to_chars(number, number + sizeof number, row.weight);
    text.append(number, weight.ptr);
    text.push_back('\n');
  }
  return text;
}

template <typename Row>
Status holds(const ReturnTable& table, const std::vector<Row>& rows, const std::string& name) {
  if (table.rowCount != static_cast<std::int32_t>(rows.size())) {
    return Failure{name + ": reads back as " + std::to_string(table.rowCount) + " rows, not " +
                       std::to_string(rows.size()),
                   FailureKind::cannotWrite};
  }
  for (std::int32_t i = 0; i < table.rowCount; ++i) {
    const Row& row = rows[static_cast<std::size_t>(i)];
    if (std::bit_cast<std::uint64_t>(table.returns[i]) != std::bit_cast<std::uint64_t>(row.ret) ||
        std::bit_cast<std::uint64_t>(table.weights[i]) !=
            std::bit_cast<std::uint64_t>(static_cast<double>(row.weight))) {
      return Failure{name + ": row " + std::to_string(i + 1) + " reads back differently",
                     FailureKind::cannotWrite};
    }
  }
  return {};
}

}  // namespace

std::string tableText(const std::vector<DistRow>& rows) { return textOf(rows); }
std::string tableText(const std::vector<TiltedRow>& rows) { return textOf(rows); }

Status checkTableHolds(const ReturnTable& table, const std::vector<DistRow>& rows,
                       const std::string& name) {
  return holds(table, rows, name);
}

Status checkTableHolds(const ReturnTable& table, const std::vector<TiltedRow>& rows,
                       const std::string& name) {
  return holds(table, rows, name);
}

Outcome<std::unique_ptr<ReturnTable>> tableOfText(const std::string& text,
                                                  const std::string& name) {
  InputStream stream;
  openFromMemory(stream, text.data(), text.size());
  auto table = std::make_unique<ReturnTable>();
  const Status read = readReturnTable(*table, stream, name.c_str());
  if (!read.ok()) return failureOf(read);
  return table;
}

Outcome<Moments> drawnMoments(const std::string& text, const std::string& name) {
  Outcome<std::unique_ptr<ReturnTable>> table = tableOfText(text, name);
  if (!table.ok()) return failureOf(table);
  const std::vector<double> draws = drawsOf(*table.value());
  return momentsOf(draws.data(), draws.size());
}

std::vector<double> drawsOf(const ReturnTable& table) {
  auto draws = std::make_unique<DrawTable>();
  buildDrawTable(table, static_cast<std::int32_t>(table.totalWeight), *draws);
  return std::vector<double>(draws->returnFor, draws->returnFor + kGeneratorOutputs);
}

}  // namespace empricer
