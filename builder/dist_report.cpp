#include "builder/dist_report.h"

#include <cmath>

#include "engine/constants.h"
#include "text/number_text.h"

namespace {

constexpr std::size_t kLabelWidth = 26;
constexpr std::size_t kValueWidth = 16;

void padTo(std::string& text, std::size_t lineStart, std::size_t width) {
  const std::size_t used = text.size() - lineStart;
  text.append(used < width ? width - used : 1, ' ');
}

void addRow(std::string& text, const char* label, double data, double table) {
  const std::size_t start = text.size();
  text += label;
  padTo(text, start, kLabelWidth);
  appendNumber(text, data);
  padTo(text, start, kLabelWidth + kValueWidth);
  appendNumber(text, table);
  text += '\n';
}

void addCount(std::string& text, const char* label, std::int64_t count) {
  const std::size_t start = text.size();
  text += label;
  padTo(text, start, kLabelWidth);
  appendInteger(text, count);
  text += '\n';
}

std::string percent(double share) {
  std::string text;
  appendNumber(text, 100.0 * share);
  return text + "%";
}

}  // namespace

double meanMiss(const DistFigures& figures) {
  return std::fabs(figures.table.mean - figures.data.mean) / figures.data.standardDeviation;
}

double spreadMiss(const DistFigures& figures) {
  return std::fabs(figures.table.standardDeviation / figures.data.standardDeviation - 1.0);
}

bool meetsBounds(const DistFigures& figures) {
  return meanMiss(figures) <= kMeanBound && spreadMiss(figures) <= kSpreadBound;
}

std::string reportText(const DistFigures& f) {
  std::string text = "Prices: " + f.pricesFile + ", column " + f.priceColumn;
  if (!f.sessionColumn.empty()) text += ", sessions by " + f.sessionColumn;
  text += "\nTable: " + f.tableFile + "\n\n";
  addCount(text, "prices", f.priceCount);
  addCount(text, "sessions", f.sessionCount);
  addCount(text, "returns", f.returnCount);
  addCount(text, "table rows", f.rows);
  addCount(text, "at most", f.maxRows);

  const std::size_t start = text.size();
  text += "\nper step";
  padTo(text, start + 1, kLabelWidth);
  text += "data";
  padTo(text, start + 1, kLabelWidth + kValueWidth);
  text += "table as drawn\n";
  addRow(text, "mean", f.data.mean, f.table.mean);
  addRow(text, "standard deviation", f.data.standardDeviation, f.table.standardDeviation);
  addRow(text, "skewness", f.data.skewness, f.table.skewness);
  addRow(text, "excess kurtosis", f.data.excessKurtosis, f.table.excessKurtosis);
  addRow(text, "minimum", f.data.minimum, f.table.minimum);
  addRow(text, "maximum", f.data.maximum, f.table.maximum);
  const double days = std::sqrt(static_cast<double>(kStepsPerDay));
  addRow(text, "daily standard deviation", days * f.data.standardDeviation,
         days * f.table.standardDeviation);

  text += "\nThe table's mean differs from the data's by ";
  appendNumber(text, meanMiss(f));
  text += " standard deviations, its standard deviation by " + percent(spreadMiss(f)) + ".\n";
  return text;
}

std::string boundsWarning(const DistFigures& f) {
  std::string text = "warning: with at most ";
  appendInteger(text, f.maxRows);
  text += " rows the table misses the accuracy bounds: its mean differs from the data's by ";
  appendNumber(text, meanMiss(f));
  text += " standard deviations (bound ";
  appendNumber(text, kMeanBound);
  text += "), its standard deviation by " + percent(spreadMiss(f)) + " (bound " +
          percent(kSpreadBound) + ")";
  return text;
}
