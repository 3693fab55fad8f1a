// The tidy results file (--results FILE): one line per valued row and path, in row order and
// path order, every number in the shortest text that reads back to the same double.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "runs/row_sink.h"
#include "engine/desk/desk_figures.h"
#include "engine/rows/row_valuer.h"
#include "engine/valuation/records.h"
#include "engine/desk/row_figures.h"
#include "engine/valuation/row_pricer.h"
#include "text/number_text.h"
#include "text/output_file.h"
#include "text/status.h"

namespace empricer {

// How the run was made, for the columns that say so on every line.
struct RunFacts {
  MethodDescription method{};         // the method column, and the columns that follow from it
  std::int64_t trajectories = 0;      // a simulation's
  std::optional<std::uint32_t> seed;  // --seed; none when the clock seeded the run
  double tradingDays = 252.0;         // for the market's yearly volatilities
};

class ResultsFile final : public RowSink {
 public:
  ResultsFile() = default;
  ~ResultsFile() override;
  ResultsFile(const ResultsFile&) = delete;
  ResultsFile& operator=(const ResultsFile&) = delete;

  // Creates or empties the file and writes its header (after setRun: an exact run's has the
  // columns exact_error and vega). Fails with the stop message.
  Status open(const std::string& path);
  // The same lines into memory instead of a file (text()).
  void openInMemory();
  const std::string& text() const { return memory_; }
  void setRun(const RunFacts& facts) { run_ = facts; }
  // Closes the file, checked.
  Status close();
  // The standard errors, the desk figures and a law's vega.
  void want(FigureChoice& choice) const override;
  // Before the first row: with `mostRepeats` above 0 (some row of the run takes more draws
  // than the generator's cycle) the file gains the last column cycle_repeats, and its header
  // is written again with it.
  Status begin(std::uint64_t mostRepeats) override;
  // A valued row: its five lines in one piece, flushed, with its cycle repeats in the cycle
  // column when there is one; the standard error fields are empty unless the method's figures
  // are sampled, a quote's fields when it has no such price, a vega field when the row has
  // none. Fails with the stop message when they cannot be written.
  Status row(const ValuedRow& row) override;

 private:
  RowFile file_;
  bool cycleColumn_ = false;
  // The header line, without its line end: the columns, exact_error and vega for exact
  // figures (each row's largest ratio of an error estimate to its bound, each path's change
  // in call value per volatility point), cycle_repeats when added.
  std::string header() const;
  RunFacts run_;
  bool inMemory_ = false;
  std::string memory_;
};

// The header line of every results file, without its line end and the columns of an exact
// run or a run past the generator's cycle.
extern const char* const kResultsHeader;

}  // namespace empricer
