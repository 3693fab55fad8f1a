#include <algorithm>
#include <cstdio>
#include <deque>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "app/batch_rows.h"
#include "app/cycle_notice.h"
#include "app/elapsed_time.h"
#include "app/exact_rows.h"
#include "app/file_names.h"
#include "app/row_turn.h"
#include "app/runs.h"
#include "app/stop.h"
#include "engine/group_valuation.h"
#include "engine/path_simulation.h"
#include "engine/random_jump.h"
#include "engine/valuation_queue.h"
#include "text/input_stream.h"
#include "text/line_reader.h"
#include "text/output_file.h"

namespace empricer {

namespace {

// Rows read ahead at most: the queue holds back on valued rows, this on skipped ones.
constexpr std::size_t kRowsAhead = 256;

// A shard that selects no data row still writes its header-only file, so that every shard
// merges; standard error says why it is empty.
void reportEmptyShard(const RowRange& shard, std::int64_t batchRows) {
  std::string range = std::to_string(shard.first);
  if (shard.last != shard.first) {
    range += '-';
    if (shard.last != INT64_MAX) range += std::to_string(shard.last);
  }
  std::fprintf(stderr, "empricer: --rows %s selects no row: %s has %lld data row%s\n",
               range.c_str(), kBatchFileName, static_cast<long long>(batchRows),
               batchRows == 1 ? "" : "s");
}

// Reads the next data row (a non-empty read after the header) into `line`; false at the end.
bool readDataRow(InputStream& batch, LineBuffer& line) {
  while (!batch.endOfFile) {
    readLine(batch, line);
    if (!isEmptyLine(line)) return true;
  }
  return false;
}

// A data row at its turn: what batch.csv gives, and its number among the data rows.
struct NumberedRow {
  BatchRow row;
  std::int64_t number;
  ValuationDraws draws;  // of its valuation: the row's own, or its group's
};

// Every row valued on its own, as a group of one: rows are read ahead of the one being
// completed and handed to the queue, whose workers simulate them meanwhile.
class RowByRow {
 public:
  RowByRow(InputStream& batch, const RunSettings& settings, RunContext& run,
           const RowRange& shard)
      : batch_(batch), settings_(settings), run_(run), shard_(shard) {}

  // The next row of the shard; false at its end.
  bool next(NumberedRow& at) {
    while (ahead_.size() < kRowsAhead && run_.queue.wantsMore() && readRow()) {
    }
    if (ahead_.empty() && !readRow()) return false;
    at = ahead_.front();
    ahead_.pop_front();
    return true;
  }

  Status value(const NumberedRow& at, RowFigures& figures) {
    if (run_.exact != nullptr) {
      return run_.exact->value(run_, at.number, at.row.request, figures, quoteOf(run_, at.row.request));
    }
    const GroupPlan plan = std::move(plans_.front());
    plans_.pop_front();
    std::vector<RowFigures> values;
    const Status status = completeGroup(run_.queue, run_.distribution, kDistributionFileName,
                                        plan, figureChoice(run_), values, watchOf(run_));
    if (status.ok()) figures = values.front();
    return status;
  }

 private:
  bool readRow() {
    while (rowNumber_ < shard_.last && readDataRow(batch_, line_)) {
      ++rowNumber_;
      const BatchRow row = readBatchRow(line_, settings_);
      if (rowNumber_ < shard_.first) {
        if (row.valued) skippedDraws_ += drawsOfValuation(row.request);
        continue;
      }
      if (skippedDraws_ != 0) {
        run_.generator.state = applyJump(randomJump(skippedDraws_), run_.generator.state);
        skippedDraws_ = 0;
      }
      if (row.valued && run_.exact == nullptr) {
        plans_.push_back(planSingle(row.request, run_.rowsOnly ? nullptr : kTemporaryFileName,
                                    kKeptReadBackBytes, quoteOf(run_, row.request)));
        enqueueGroup(run_.queue, plans_.back(), run_.generator);
      }
      ahead_.push_back({row, rowNumber_, {settings_.trajectories, row.request.days}});
      return true;
    }
    return false;
  }

  InputStream& batch_;
  const RunSettings& settings_;
  RunContext& run_;
  const RowRange& shard_;
  std::deque<NumberedRow> ahead_;
  std::deque<GroupPlan> plans_;  // of the valued rows ahead
  std::int64_t rowNumber_ = 0;   // data rows read so far
  // The draws of the rows before the shard, jumped over at once when the shard begins (the
  // sum may wrap around: the generator's state has 2^32 values).
  std::uint64_t skippedDraws_ = 0;
  LineBuffer line_{};
};

// The rows as chains: rows with the same S0 form a group, valued from one simulation when its
// first row of the shard comes up. Groups are formed over the whole file, in the order of
// their first rows, and each draws on from where the groups before it left the generator.
class InChains {
 public:
  InChains(InputStream& batch, const RunSettings& settings, RunContext& run,
           const RowRange& shard)
      : run_(run), trajectories_(settings.trajectories) {
    std::map<double, std::size_t> bySpot;  // NaN is never found: each NaN row is its own group
    LineBuffer line{};
    while (readDataRow(batch, line)) {
      rows_.push_back(readBatchRow(line, settings));
      const BatchRow& row = rows_.back();
      groupOf_.push_back(groups_.size());
      if (!row.valued) continue;
      const double spot = row.request.spot;
      const auto found = spot == spot ? bySpot.find(spot) : bySpot.end();  // 0.0 == -0.0
      if (found != bySpot.end()) {
        groupOf_.back() = found->second;
      } else {
        if (spot == spot) bySpot.emplace(spot, groups_.size());
        groups_.emplace_back();
      }
      groups_[groupOf_.back()].rows.push_back(rows_.size() - 1);
    }
    // Each group's first state: after every earlier group's trajectories x 270 x its days.
    RandomGenerator generator = run.generator;
    for (Group& group : groups_) {
      for (std::size_t r : group.rows) {
        const ValuationRequest& request = rows_[r].request;
        group.chain.push_back({request.strike, request.days, quoteOf(run, request)});
      }
      group.days = groupDays(group.chain);
      group.firstState = generator.state;
      generator.state =
          applyJump(randomJump(drawsOf(settings.trajectories, group.days)), generator.state);
    }
    next_ = static_cast<std::size_t>(shard.first - 1);
    end_ = static_cast<std::size_t>(
        std::min<std::int64_t>(static_cast<std::int64_t>(rows_.size()), shard.last));
  }

  bool next(NumberedRow& at) {
    if (next_ >= end_) return false;
    const Group* group = rows_[next_].valued ? &groups_[groupOf_[next_]] : nullptr;
    at = {rows_[next_], static_cast<std::int64_t>(next_) + 1,
          {trajectories_, group != nullptr ? group->days : 0}};
    ++next_;
    return true;
  }

  Status value(const NumberedRow& at, RowFigures& figures) {
    // Exact figures come from each row's own law: grouping changes nothing.
    if (run_.exact != nullptr) {
      return run_.exact->value(run_, at.number, at.row.request, figures, quoteOf(run_, at.row.request));
    }
    const std::size_t r = static_cast<std::size_t>(at.number - 1);
    Group& group = groups_[groupOf_[r]];
    if (!group.valued) {
      // The group's paths start at its first row's S0 (0.0 and -0.0 are one group).
      GroupPlan plan = planGroup(rows_[group.rows.front()].request, group.chain);
      RandomGenerator from{group.firstState};
      enqueueGroup(run_.queue, plan, from);
      std::vector<RowFigures> chain;
      const Status status = completeGroup(run_.queue, run_.distribution, kDistributionFileName,
                                          plan, figureChoice(run_), chain, watchOf(run_));
      if (!status.ok()) return status;
      for (std::size_t i = 0; i < group.rows.size(); ++i) {
        if (group.rows[i] >= r && group.rows[i] < end_) values_.emplace(group.rows[i], chain[i]);
      }
      group.valued = true;
    }
    const auto found = values_.find(r);
    figures = found->second;
    values_.erase(found);
    return {};
  }

 private:
  struct Group {
    std::vector<std::size_t> rows;  // valued rows, in row order
    std::vector<GroupRow> chain;
    std::int32_t days = 0;  // its longest row's that runs a step
    std::uint32_t firstState = 0;
    bool valued = false;
  };
  RunContext& run_;
  std::int32_t trajectories_;
  std::vector<BatchRow> rows_;
  std::vector<std::size_t> groupOf_;  // by row; only valued rows have one
  std::vector<Group> groups_;
  std::unordered_map<std::size_t, RowFigures> values_;  // valued and not yet written, by row
  std::size_t next_ = 0;
  std::size_t end_ = 0;
};

// The one row loop: everything a row shows happens at its turn, in row order.
template <typename Rows>
Status valueRows(Rows& rows, RowFile& results, RunContext& run, std::int64_t rowsShown) {
  std::int64_t rowsDone = 0;
  bool cycleTold = false;  // one warning a run
  NumberedRow at;
  while (rows.next(at)) {
    run.progress.startRow(++rowsDone, rowsShown);
    if (run.listen) run.listen(0.0);
    if (!at.row.valued) {
      if (run.rowsOnly) continue;
      if (Status shown = printLine("Skipped row: days out of range"); !shown.ok()) return shown;
      continue;
    }
    const ValuationRequest& request = at.row.request;
    if (!cycleTold && run.exact == nullptr && at.draws.repeats() > 0) {
      cycleTold = true;
      warnOfCycle(at.number, at.draws);
    }
    const std::int64_t rowStartTime = run.clock.now();
    RowFigures figures{};
    const Status status = rows.value(at, figures);
    run.progress.clear();
    if (!status.ok()) return status;
    const StandardErrors* errors = shownErrors(run, figures);
    if (!run.rowsOnly) {
      if (Status shown =
              writeConsoleRows(request, figures.result, errors, run.clock, rowStartTime);
          !shown.ok()) {
        return shown;
      }
      if (Status written = writeResultRows(results, request, figures.result, errors);
          !written.ok()) {
        return written;
      }
    }
    if (Status written = writeDeskRow(run, at.number, request, figures, at.draws.repeats());
        !written.ok()) {
      return written;
    }
  }
  return {};
}

}  // namespace

Status valueRowsOf(const std::string& batchText, const RunSettings& settings, RunContext& run) {
  InputStream batch;
  openFromMemory(batch, batchText.data(), batchText.size());
  const RowRange shard = run.options.rows.value_or(RowRange{});
  if (run.results != nullptr && run.exact == nullptr &&
      mostCycleRepeats(settings, run.options.chain, shard.first, shard.last, &batchText) > 0) {
    if (Status widened = run.results->addCycleColumn(); !widened.ok()) return widened;
  }
  LineBuffer headerLine{};
  readLine(batch, headerLine);
  RowFile none;
  Status status;
  if (run.options.chain) {
    InChains rows(batch, settings, run, shard);
    status = valueRows(rows, none, run, 0);
  } else {
    RowByRow rows(batch, settings, run, shard);
    status = valueRows(rows, none, run, 0);
  }
  closeStream(batch);
  return status;
}

Status runBatch(const RunSettings& settings, RunContext& run) {
  // The input is checked before the result file is touched, so that a missing input does not
  // wipe the results of an earlier run.
  InputStream batch;
  openForReading(batch, kBatchFileName);
  if (!isOpen(batch)) return openFailure(kBatchFileName);
  RowFile results;
  if (!results.open(kResultFileName)) return openFailure(kResultFileName);

  const std::string header =
      resultHeader(settings.withProbabilities, run.options.standardErrors) + "\n";
  if (!results.writeRow(header).ok()) return Failure{writeFailureText(kResultFileName)};
  if (Status shown = printLine("OUTPUTS: "); !shown.ok()) return shown;

  // The rows this run values: all of them, or a shard. Rows before the shard are read, and
  // their draws skipped by jumping the generator ahead, without valuing them.
  const RowRange shard = run.options.rows.value_or(RowRange{});
  // The results file has a column for the rows past the generator's cycle when some row is.
  if (run.results != nullptr && run.exact == nullptr &&
      mostCycleRepeats(settings, run.options.chain, shard.first, shard.last) > 0) {
    if (Status widened = run.results->addCycleColumn(); !widened.ok()) return widened;
  }
  const std::int64_t batchRows =
      run.progress.enabled() || run.options.rows ? countBatchRows() : 0;
  if (run.options.rows && batchRows < shard.first) reportEmptyShard(shard, batchRows);
  const std::int64_t rowsShown =
      run.progress.enabled()
          ? std::max<std::int64_t>(0, std::min(batchRows, shard.last) - (shard.first - 1))
          : 0;
  LineBuffer headerLine{};
  readLine(batch, headerLine);  // the header, whatever it holds
  Status status;
  if (run.options.chain) {
    InChains rows(batch, settings, run, shard);
    status = valueRows(rows, results, run, rowsShown);
  } else {
    RowByRow rows(batch, settings, run, shard);
    status = valueRows(rows, results, run, rowsShown);
  }
  closeStream(batch);
  if (!results.close().ok() && status.ok()) status = Failure{writeFailureText(kResultFileName)};
  if (status.ok()) status = printLine("");
  if (status.ok()) {
    writeElapsedLine(run.clock, "Total elapse time: ", run.startTime);
    status = standardOutputWritten();
  }
  return status;
}

}  // namespace empricer
