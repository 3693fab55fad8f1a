// --check of dist.csv: each row against the return-table loader's reading of it, and the
// table as a whole.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/check/check_files.h"
#include "runs/day_notice.h"
#include "app/check/check_lines.h"
#include "app/check/check_text.h"
#include "runs/file_names.h"
#include "engine/valuation/constants.h"
#include "engine/table/draw_table.h"
#include "engine/table/return_table.h"
#include "text/input_stream.h"
#include "text/int_conversion.h"
#include "text/line_reader.h"

namespace empricer::check {

namespace {

// A step's standard deviation above this looks like returns written in percent.
constexpr double kPercentLikeDeviation = 0.01;
// --check tells a table whose band binds on more than this share of days.
constexpr double kBandDaysTold = 0.05;
// A walk watched at its steps only reaches a level about as often as a Brownian motion does
// a level this many step deviations further out (-zeta(1/2) / sqrt(2 pi)).
constexpr double kDiscreteShift = 0.5826;

// log Phi(x), Phi the standard normal distribution function, also far in its lower tail.
double logNormalBelow(double x) {
  if (x > -30.0) return std::log(0.5 * std::erfc(-x / std::sqrt(2.0)));
  return -0.5 * x * x - std::log(-x) - 0.5 * std::log(2.0 * 3.141592653589793);
}

// The chance that a Brownian motion with drift `mu` and spread `sigma` over one unit of time
// reaches the level b > 0.
double reaches(double mu, double sigma, double b) {
  const double direct = 0.5 * std::erfc(-((mu - b) / sigma) / std::sqrt(2.0));
  const double mirrored =
      std::exp(2.0 * mu * b / (sigma * sigma) + logNormalBelow((-b - mu) / sigma));
  return direct + mirrored;
}

// The mean and the standard deviation (population form) of some values, taken about the first
// so that equal values give a deviation of exactly 0.
struct Spread {
  double mean = 0.0;
  double deviation = 0.0;
};
Spread spreadOf(const std::vector<double>& values) {
  const double origin = values.front();
  double sum = 0.0;
  for (const double x : values) sum += x - origin;
  const double shift = sum / static_cast<double>(values.size());
  double squares = 0.0;
  for (const double x : values) squares += (x - origin - shift) * (x - origin - shift);
  return {origin + shift, std::sqrt(squares / static_cast<double>(values.size()))};
}

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
    if (std::fabs(row.value) >= 1.0) {
      row.reasons.push_back("a return of 1 or more in size moves a price by 100% or more in "
                            "one step: a return is a relative change (0.015 for 1.5%), and this "
                            "one looks like a percent");
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

// What a step's draws look like as a whole: a spread that looks like returns in percent, and
// one so wide that the band cuts the days often.
void drawFindings(const ReturnTable& table, const CheckDay& day, Findings& findings) {
  auto draws = std::make_unique<DrawTable>();
  buildDrawTable(table, static_cast<std::int32_t>(table.totalWeight), *draws);
  const Spread step = spreadOf(std::vector<double>(draws->returnFor,
                                                   draws->returnFor + kGeneratorOutputs));
  const double deviation = step.deviation;
  // A step of a shorter day may spread as much wider as a day of fewer steps asks.
  const double percentLike =
      kPercentLikeDeviation * std::sqrt(static_cast<double>(kDefaultStepsPerDay) / day.stepsPerDay);
  const std::string steps =
      std::to_string(day.stepsPerDay) + (day.stepsPerDay == 1 ? " step" : " steps");
  if (deviation > percentLike) {
    findings.addFile("a step's draws have a standard deviation of " + number(deviation),
                     "above " + number(100.0 * percentLike) +
                         "% a step, as returns written in percent give; a return is a relative "
                         "change per step (0.015 for 1.5%), and a day is " + steps);
  }
  const double share = bandBindingShare(*draws, day.stepsPerDay);
  if (share > kBandDaysTold) {
    findings.addFile("the band binds on about " + number(std::round(100.0 * share)) +
                         "% of days",
                     "a path is held within 1/1.07 to 1.07 of its price at the start of each "
                     "day, and a day of " + steps + " with these draws (a step's mean " +
                         number(step.mean) + ", standard deviation " + number(deviation) +
                         ") leaves that range on more than " + number(100.0 * kBandDaysTold) +
                         "% of days, where the band cuts what the table draws; a step is 1/" +
                         std::to_string(day.stepsPerDay) +
                         " of a day (empricer-dist says how many steps a day its table needs)");
  }
  if (auto notice = implausibleDay(*draws, day.stepsPerDay, day.tradingDays)) {
    findings.addFile(notice->what, notice->why);
  }
}

// The table as the loader reads it: no row, weights that do not rise, or a total below 1;
// then its draws.
void tableFindings(std::size_t rowCount, const CheckDay& day, Findings& findings) {
  auto table = std::make_unique<ReturnTable>();
  const Status loaded = loadReturnTable(*table, kDistributionFileName);
  if (!loaded.ok() && rowCount == 0) {
    findings.addFile("holds no row", runStops(loaded.message()));
    return;
  }
  if (!loaded.ok()) {
    findings.addFile("the weights add up to " + number(table->cumulative[rowCount - 1]),
                     runStops(loaded.message()));
    return;
  }
  if (table->totalWeight < 1.0) {
    findings.addFile("the weights add up to " + number(table->totalWeight),
                     truncateToInt32(table->totalWeight).value_or(0) == 0
                         ? "below 1, every draw is 0, so every step takes the same return"
                         : "below 0, every draw is 0 or negative");
  }
  drawFindings(*table, day, findings);
}

}  // namespace

double bandBindingShare(const DrawTable& draws, int stepsPerDay) {
  const double band = std::log(kUpperBand);
  // A step beyond the band's whole width reaches it from anywhere: the clip keeps the
  // moments finite. A step to 0 or below, or a NaN, counts as such a step down.
  std::vector<double> logs(kGeneratorOutputs);
  for (int r = 0; r < kGeneratorOutputs; ++r) {
    const double x = std::log1p(draws.returnFor[r]);
    logs[r] = x >= -2.0 * band ? std::min(x, 2.0 * band) : -2.0 * band;
  }
  const Spread step = spreadOf(logs);
  const double mu = stepsPerDay * step.mean;
  const double sigma = std::sqrt(static_cast<double>(stepsPerDay)) * step.deviation;
  const double level = band + kDiscreteShift * step.deviation;
  if (!(sigma > 1e-100)) return std::fabs(mu) >= band ? 1.0 : 0.0;
  return std::min(1.0, reaches(mu, sigma, level) + reaches(-mu, sigma, level));
}

void checkDistribution(CheckReport& report, const CheckDay& day) {
  Findings findings(kDistributionFileName);
  InputStream stream;
  if (!openedOrReported(stream, kDistributionFileName, true, findings, report.findings)) return;
  std::vector<DistRow> rows;
  const bool tooMany = readRows(stream, findings, report, rows);
  closeStream(stream);
  rowFindings(rows, findings);
  if (!tooMany) tableFindings(rows.size(), day, findings);
  findings.appendTo(report.findings);
}

}  // namespace empricer::check
