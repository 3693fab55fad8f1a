#include "runs/row_sink.h"

#include "engine/quotes/quote_book.h"

namespace empricer {

Status beginRows(const RowSinks& sinks, std::uint64_t mostRepeats) {
  for (RowSink* sink : sinks) {
    if (Status begun = sink->begin(mostRepeats); !begun.ok()) return begun;
  }
  return {};
}

Status skipRow(const RowSinks& sinks, std::int64_t number, const std::string& why) {
  for (RowSink* sink : sinks) {
    if (Status told = sink->skip(number, why); !told.ok()) return told;
  }
  return {};
}

Status passRow(const RowSinks& sinks, const ValuedRow& row) {
  for (RowSink* sink : sinks) {
    if (Status taken = sink->row(row); !taken.ok()) return taken;
  }
  return {};
}

Status QuoteNotes::row(const ValuedRow& row) {
  book_.noteRow(row.request.spot, row.request.strike, row.request.days);
  return {};
}

}  // namespace empricer
