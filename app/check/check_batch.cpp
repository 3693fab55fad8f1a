// --check of batch.csv: the header, and each data row against readBatchRow's reading of it.
#include <algorithm>
#include <cmath>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "runs/batch_rows.h"
#include "app/check/check_files.h"
#include "app/check/check_lines.h"
#include "app/check/check_text.h"
#include "runs/cycle_notice.h"
#include "runs/file_names.h"
#include "runs/settings.h"
#include "engine/rows/row_valuer.h"
#include "text/input_stream.h"
#include "text/line_reader.h"

namespace empricer::check {

namespace {

// The fields a data row is read from.
constexpr int kRowFields = 3;
const char* const kFieldNames[kRowFields] = {"S0", "K", "days"};

// A chain run keeps every row of the batch, and what each row's figures need, until it ends:
// about this much a row (measured on 200,000 rows: 294 MB); --check tells past this many rows.
constexpr std::int64_t kChainBytesPerRow = 1500;
constexpr std::int64_t kChainRowsTold = 250000;

// Whether a line holds only blanks (and is not empty).
bool onlyBlanks(const LineBuffer& read) {
  for (char c : textOf(read)) {
    if (!isBlank(c)) return false;
  }
  return true;
}

std::vector<std::string> checkBatchRow(const LineBuffer& read, const BatchRow& row,
                                       const Field (&fields)[kRowFields]) {
  std::vector<std::string> reasons;
  if (onlyBlanks(read)) {
    reasons.push_back("the line holds only blanks, and is valued as a row of zeros");
    return reasons;
  }
  int reached = 1;  // of the row's fields, those the line reaches
  while (reached < kRowFields && fields[reached].present) ++reached;
  if (reached < kRowFields) {
    std::string names;
    for (const char* name : kFieldNames) {
      if (!names.empty()) names += ',';
      names += name;
    }
    reasons.push_back("the row has " + std::to_string(reached) + " of its " +
                      std::to_string(kRowFields) + " fields (" + names + ")");
  }
  for (int f = 0; f < reached; ++f) {
    const Reading reading = readingOf(fields[f].text);
    const std::string name = kFieldNames[f];
    if (reading.form == Form::Empty) reasons.push_back(name + " is empty");
    if (std::string why = whyOf(name, reading); !why.empty()) reasons.push_back(why);
  }
  const double days = fields[2].value;
  const std::string daysText = readingOf(fields[2].text).text;
  if (!row.valued) {
    reasons.push_back("the days " + quoted(daysText) + " are out of range");
    return reasons;
  }
  if (days != std::trunc(days)) {
    reasons.push_back("the days " + quoted(daysText) + " are cut to " +
                      std::to_string(row.request.days));
  }
  // Days that the line gives as a number; missing or wordy days are told above.
  const Form daysForm = readingOf(fields[2].text).form;
  if (reached == kRowFields && (daysForm == Form::Number || daysForm == Form::Cut) &&
      row.request.days < 1) {
    reasons.push_back("days below 1 simulate no step: the row is valued at S0 itself, with no "
                      "time left (a day is the shortest term)");
  }
  return reasons;
}

// Looks like a data row: its first field is a number.
bool looksLikeRow(const LineBuffer& read) {
  return !isEmptyLine(read) && readingOf(fieldOf(read, 1, ',').text).form == Form::Number;
}

// With --chain, the rows of one S0 share the trajectories of their longest days: the chains
// past the generator's cycle, by S0.
void addChainFindings(Findings& findings, const std::vector<RunRow>& rows,
                      const std::vector<int>& lines, std::int32_t trajectories) {
  const SpotGroups spots = groupsBySpot(rows);
  std::vector<std::pair<double, const SpotGroups::Group*>> bySpot;
  for (const SpotGroups::Group& group : spots.groups) {
    const double spot = rows[group.rows.front()].spot;
    if (spot == spot) bySpot.emplace_back(spot, &group);
  }
  std::sort(bySpot.begin(), bySpot.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });
  for (const auto& [spot, group] : bySpot) {
    const ValuationDraws draws{trajectories, group->days};
    if (draws.repeats() > 0) {
      findings.addFile("with --chain, the rows of S0 " + number(spot) + " (from line " +
                           std::to_string(lines[group->rows.front()]) + ")",
                       cycleReason(draws));
    }
  }
}

}  // namespace

bool checkBatch(CheckReport& report, bool required, std::optional<std::int32_t> trajectories) {
  Findings findings(kBatchFileName);
  InputStream stream;
  if (!openedOrReported(stream, kBatchFileName, required, findings, report.findings)) {
    return required;
  }
  // The data rows as a run takes them, with their lines: for the chains of --chain.
  std::vector<RunRow> runRows;
  std::vector<int> rowLines;
  std::int64_t dataRows = 0;
  bool header = true;  // the first read is the header, whatever it holds
  for (const FileLine& line : linesOf(stream)) {
    const bool firstLine = header;
    int rows = 0;
    for (const LineBuffer& read : line.reads) {
      if (header) {
        header = false;
        if (line.reads.size() == 1 && looksLikeRow(read)) {
          findings.add(line.number, "is taken as the header and never valued",
                       {"it looks like a data row, and the first line is the header"});
        }
        continue;
      }
      if (isEmptyLine(read)) continue;
      ++rows;
      ++dataRows;
      // What a row reads of S0, K and the days does not depend on the settings.
      const BatchRow row = readBatchRow(read, RunSettings{});
      runRows.push_back({row.request.spot, row.request.strike, row.request.days, row.valued, {}});
      rowLines.push_back(line.number);
      if (line.dataReads() > 1) continue;
      Field fields[kRowFields];
      for (int f = 0; f < kRowFields; ++f) fields[f] = fieldOf(read, f + 1, ',');
      const std::string reads =
          row.valued ? "reads S0 " + number(row.request.spot) + ", K " +
                           number(row.request.strike) + ", days " +
                           std::to_string(row.request.days)
                     : std::string("is skipped");
      std::vector<std::string> reasons = checkBatchRow(read, row, fields);
      if (trajectories && row.valued) {
        const ValuationDraws draws{*trajectories, row.request.days};
        if (draws.repeats() > 0) reasons.push_back(cycleReason(draws));
      }
      findings.add(line.number, reads, std::move(reasons));
      for (int f = 0; f < kRowFields; ++f) {
        report.values.push_back({kBatchFileName, line.number, kFieldNames[f], f + 1,
                                 std::move(fields[f].text), fields[f].value});
      }
    }
    if (line.dataReads() > 1 || (firstLine && rows > 0)) {
      const std::string count = std::to_string(rows) + (rows == 1 ? " row" : " rows");
      const std::string reads =
          firstLine ? "reads as the header and " + count : "reads as " + count;
      findings.add(line.number, reads, {piecesReason(line)});
    }
  }
  closeStream(stream);
  if (dataRows > kChainRowsTold) {
    findings.addFile("with --chain, " + std::to_string(dataRows) + " rows",
                     "a chain run keeps about " + std::to_string(kChainBytesPerRow) +
                         " bytes for each row of the batch until the run ends (about " +
                         std::to_string(dataRows * kChainBytesPerRow / 1000000) + " MB)");
  }
  if (trajectories) addChainFindings(findings, runRows, rowLines, *trajectories);
  findings.appendTo(report.findings);
  return true;
}

}  // namespace empricer::check
