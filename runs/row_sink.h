// The outputs of a run's rows, each behind one small interface: the row loops (the batch run,
// the chain run, the rows valued in process, the manual run's one row) hand every row to a
// list of sinks in turn and know nothing of the files and tallies behind them. A new output of
// every valued row is one more RowSink in that list.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/desk/row_figures.h"
#include "engine/valuation/records.h"
#include "text/status.h"

namespace empricer {

class QuoteBook;

// A valued row as every output takes it.
struct ValuedRow {
  std::int64_t number;  // counted as --rows counts, 1 for a manual run
  const ValuationRequest& request;
  const RowFigures& figures;
  MarketQuote quote;              // the market's, when --quotes gives one
  std::uint64_t cycleRepeats;     // how many times its draws wrap around the generator's cycle
  std::int64_t startTime;         // the clock's reading when its valuation began
};

class RowSink {
 public:
  virtual ~RowSink() = default;
  // The figures it reads beyond the values and the errors the options show, added to
  // `choice` before the valuer is made.
  virtual void want(FigureChoice& choice) const { static_cast<void>(choice); }
  // Before the first row: the most repeats of the generator's cycle of any row the run values.
  virtual Status begin(std::uint64_t mostRepeats) {
    static_cast<void>(mostRepeats);
    return {};
  }
  // Row `number`, which the run skips, and why ("days out of range", or the valuer's refusal).
  virtual Status skip(std::int64_t number, const std::string& why) {
    static_cast<void>(number);
    static_cast<void>(why);
    return {};
  }
  // A valued row, in row order. Fails with the message the run stops with.
  virtual Status row(const ValuedRow& row) = 0;
};

using RowSinks = std::vector<RowSink*>;

// Each sink of `sinks` in turn; the first failure stops the rest and is returned.
Status beginRows(const RowSinks& sinks, std::uint64_t mostRepeats);
Status skipRow(const RowSinks& sinks, std::int64_t number, const std::string& why);
Status passRow(const RowSinks& sinks, const ValuedRow& row);

// The quotes' accounting (--quotes): which quoted rows the run valued, for the count it
// tells at the end.
class QuoteNotes final : public RowSink {
 public:
  explicit QuoteNotes(QuoteBook& book) : book_(book) {}
  Status row(const ValuedRow& row) override;

 private:
  QuoteBook& book_;
};

}  // namespace empricer
