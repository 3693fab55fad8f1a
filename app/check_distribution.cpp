// --check of dist.csv: each row against the return-table loader's reading of it, and the
// table as a whole.
#include <cstddef>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/check_files.h"
#include "app/check_lines.h"
#include "app/check_text.h"
#include "app/file_names.h"
#include "engine/return_table.h"
#include "text/input_stream.h"
#include "text/int_conversion.h"
#include "text/line_reader.h"

namespace empricer::check {

namespace {

struct DistRow {
  int line;
  bool alone;  // the only row of its line of the file
  double value;
  double weight;
  std::vector<std::string> reasons;
};

// A row from one read of line `line`, with what is wrong with each of its fields read alone;
// when it is the only row of its line, its values go into the report.
DistRow readRow(const FileLine& line, const LineBuffer& read, CheckReport& report) {
  Field valueField = fieldOf(read, 1, ',');
  Field weightField = fieldOf(read, 2, ',');
  DistRow row{line.number, line.dataReads() == 1, valueField.value, weightField.value, {}};
  const Reading value = readingOf(valueField.text);
  if (value.form == Form::Empty) row.reasons.push_back("the return is empty");
  if (std::string why = whyOf("the return", value); !why.empty()) row.reasons.push_back(why);
  const Reading weight = readingOf(weightField.text);
  if (!weightField.present || weight.form == Form::Empty) {
    row.reasons.push_back("the row has no weight");
  } else if (std::string why = whyOf("the weight", weight); !why.empty()) {
    row.reasons.push_back(why);
  }
  if (row.weight < 0.0) {
    row.reasons.push_back("the weight is negative, and the running sums of the weights must "
                          "not fall");
  }
  if (row.alone) {
    report.values.push_back({kDistributionFileName, line.number, "return", 1,
                             std::move(valueField.text), row.value});
    report.values.push_back({kDistributionFileName, line.number, "weight", 2,
                             std::move(weightField.text), row.weight});
  }
  return row;
}

// The rows of the file, as far as the table's capacity; true when a row lies beyond it (a run
// stops there).
bool readRows(InputStream& stream, Findings& findings, CheckReport& report,
              std::vector<DistRow>& rows) {
  for (const FileLine& line : linesOf(stream)) {
    if (line.dataReads() > 1) {
      findings.add(line.number, "reads as " + std::to_string(line.dataReads()) + " rows",
                   {piecesReason(line)});
    }
    for (const LineBuffer& read : line.reads) {
      if (isEmptyLine(read)) continue;
      if (rows.size() == static_cast<std::size_t>(kTableCapacity)) {
        findings.add(line.number, "is row " + std::to_string(kTableCapacity + 1),
                     {"a table holds at most " + std::to_string(kTableCapacity) + " rows, and " +
                      runStops(tooManyRows(kDistributionFileName).message)});
        return true;
      }
      rows.push_back(readRow(line, read, report));
    }
  }
  return false;
}

// What is wrong with each row next to its neighbours; the lines read as one row report it.
void rowFindings(std::vector<DistRow>& rows, Findings& findings) {
  for (std::size_t i = 0; i < rows.size(); ++i) {
    DistRow& row = rows[i];
    const bool last = i + 1 == rows.size();
    if (i > 0 && row.value < rows[i - 1].value && !(last && row.weight == 0.0)) {
      row.reasons.push_back("the return is below the previous row's (" +
                            number(rows[i - 1].value) +
                            "): returns are interpolated between neighbouring rows in file "
                            "order");
    }
    if (i == 0 && row.weight == 0.0 && rows.size() > 1) {
      row.reasons.push_back("the first row's weight is 0, which ends the table at this row: "
                            "every draw from the second row's weight on takes this return");
    }
    if (row.alone) {
      findings.add(row.line, "reads return " + number(row.value) + ", weight " + number(row.weight),
                   row.reasons);
    }
  }
}

// The table as the loader reads it: no row, weights that do not rise, or a total below 1.
void tableFindings(std::size_t rowCount, Findings& findings) {
  auto table = std::make_unique<ReturnTable>();
  const Status loaded = loadReturnTable(*table, kDistributionFileName);
  if (!loaded.ok() && rowCount == 0) {
    findings.addFile("holds no row", runStops(loaded.message()));
  } else if (!loaded.ok()) {
    findings.addFile("the weights add up to " + number(table->cumulative[rowCount - 1]),
                     runStops(loaded.message()));
  } else if (table->totalWeight < 1.0) {
    findings.addFile("the weights add up to " + number(table->totalWeight),
                     truncateToInt32(table->totalWeight).value_or(0) == 0
                         ? "below 1, every draw is 0, so every step takes the same return"
                         : "below 0, every draw is 0 or negative");
  }
}

}  // namespace

void checkDistribution(CheckReport& report) {
  Findings findings(kDistributionFileName);
  InputStream stream;
  openForReading(stream, kDistributionFileName);
  if (!isOpen(stream)) {
    findings.addFile("cannot be opened", runStops(openFailure(kDistributionFileName).message));
    findings.appendTo(report.findings);
    return;
  }
  std::vector<DistRow> rows;
  const bool tooMany = readRows(stream, findings, report, rows);
  closeStream(stream);
  rowFindings(rows, findings);
  if (!tooMany) tableFindings(rows.size(), findings);
  findings.appendTo(report.findings);
}

}  // namespace empricer::check
