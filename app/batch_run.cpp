#include <algorithm>
#include <cstdio>
#include <deque>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "app/batch_rows.h"
#include "app/elapsed_time.h"
#include "app/file_names.h"
#include "app/runs.h"
#include "app/stop.h"
#include "engine/chain_valuation.h"
#include "engine/path_simulation.h"
#include "engine/random_jump.h"
#include "engine/valuation_queue.h"
#include "engine/value_option.h"
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

// Every row valued on its own: rows are read ahead of the one being completed and handed to
// the queue, whose workers simulate them meanwhile; everything a row shows happens at its
// turn, in row order.
Status valueRowByRow(InputStream& batch, RowFile& results, const RunSettings& settings,
                     RunContext& run, const RowRange& shard, std::int64_t rowsShown) {
  struct Numbered {
    BatchRow row;
    std::int64_t number;
  };
  std::deque<Numbered> ahead;
  std::int64_t rowNumber = 0;  // data rows read so far
  // The draws of the rows before the shard, jumped over at once when the shard begins (the
  // sum may wrap around: the generator's period is 2^32).
  std::uint64_t skippedDraws = 0;
  LineBuffer line{};
  auto readRow = [&] {
    while (rowNumber < shard.last && readDataRow(batch, line)) {
      ++rowNumber;
      const BatchRow row = readBatchRow(line, settings);
      if (rowNumber < shard.first) {
        if (row.valued) skippedDraws += drawsOfValuation(row.request);
        continue;
      }
      if (skippedDraws != 0) {
        run.generator.state = applyJump(randomJump(skippedDraws), run.generator.state);
        skippedDraws = 0;
      }
      if (row.valued) run.queue.enqueue(row.request, run.generator);
      ahead.push_back({row, rowNumber});
      return true;
    }
    return false;
  };

  const ValuationFiles files{kDistributionFileName, kTemporaryFileName};
  StandardErrors errors{};
  DeskFigures desk{};
  const bool withDesk = run.results != nullptr || run.plot != nullptr;
  CompletionHooks hooks;
  if (run.options.standardErrors || withDesk) hooks.standardErrors = &errors;
  if (withDesk) hooks.desk = &desk;
  hooks.tradingDays = run.options.tradingDays;
  hooks.progress = [&run](double share) { run.progress.update(share); };
  const StandardErrors* shownErrors = run.options.standardErrors ? &errors : nullptr;
  std::int64_t rowsDone = 0;
  for (;;) {
    while (ahead.size() < kRowsAhead && run.queue.wantsMore() && readRow()) {
    }
    if (ahead.empty() && !readRow()) return {};
    const BatchRow row = ahead.front().row;
    const std::int64_t number = ahead.front().number;
    ahead.pop_front();
    run.progress.startRow(++rowsDone, rowsShown);
    if (!row.valued) {
      if (Status shown = printLine("Skipped row: days out of range"); !shown.ok()) return shown;
      continue;
    }
    const std::int64_t rowStartTime = run.clock.now();
    ValuationResult result{};
    const Status status = completeValuation(run.queue, run.distribution, files, result, hooks);
    run.progress.clear();
    if (!status.ok()) return status;
    if (Status shown = writeConsoleRows(row.request, result, shownErrors, run.clock, rowStartTime);
        !shown.ok()) {
      return shown;
    }
    if (Status written = writeResultRows(results, row.request, result, shownErrors);
        !written.ok()) {
      return written;
    }
    if (withDesk) {
      const Status recorded =
          recordDeskRow(run.results, run.plot, number, row.request, result, errors, desk);
      if (!recorded.ok()) return recorded;
    }
  }
}

// The rows as chains: rows with the same S0 form a group, valued from one simulation when its
// first row of the shard comes up. Groups are formed over the whole file, in the order of
// their first rows, and each draws on from where the groups before it left the generator.
Status valueChains(InputStream& batch, RowFile& results, const RunSettings& settings,
                   RunContext& run, const RowRange& shard, std::int64_t rowsShown) {
  struct Group {
    std::vector<std::size_t> rows;  // valued rows, in row order
    std::uint32_t firstState = 0;
    bool valued = false;
  };
  std::vector<BatchRow> rows;
  std::vector<std::size_t> groupOf;  // by row; only valued rows have one
  std::vector<Group> groups;
  std::map<double, std::size_t> bySpot;  // NaN is never found: each NaN row is its own group
  LineBuffer line{};
  while (readDataRow(batch, line)) {
    rows.push_back(readBatchRow(line, settings));
    const BatchRow& row = rows.back();
    groupOf.push_back(groups.size());
    if (!row.valued) continue;
    const double spot = row.request.spot;
    const auto found = spot == spot ? bySpot.find(spot) : bySpot.end();  // 0.0 == -0.0
    if (found != bySpot.end()) {
      groupOf.back() = found->second;
    } else {
      if (spot == spot) bySpot.emplace(spot, groups.size());
      groups.emplace_back();
    }
    groups[groupOf.back()].rows.push_back(rows.size() - 1);
  }
  // Each group's first state: after every earlier group's trajectories x 270 x its days.
  RandomGenerator generator = run.generator;
  std::vector<std::vector<ChainRow>> chains(groups.size());
  for (std::size_t g = 0; g < groups.size(); ++g) {
    for (std::size_t r : groups[g].rows) {
      chains[g].push_back({rows[r].request.strike, rows[r].request.days});
    }
    groups[g].firstState = generator.state;
    generator.state = applyJump(
        randomJump(drawsOf(settings.trajectories, chainDays(chains[g]))), generator.state);
  }

  const bool withDesk = run.results != nullptr || run.plot != nullptr;
  ChainHooks hooks;
  hooks.standardErrors = run.options.standardErrors || withDesk;
  hooks.desk = withDesk;
  hooks.tradingDays = run.options.tradingDays;
  hooks.progress = [&run](double share) { run.progress.update(share); };
  std::unordered_map<std::size_t, ChainValues> values;  // valued and not yet written, by row
  std::int64_t rowsDone = 0;
  const std::size_t first = static_cast<std::size_t>(shard.first - 1);
  const std::size_t end = static_cast<std::size_t>(
      std::min<std::int64_t>(static_cast<std::int64_t>(rows.size()), shard.last));
  for (std::size_t r = first; r < end; ++r) {
    const BatchRow& row = rows[r];
    run.progress.startRow(++rowsDone, rowsShown);
    if (!row.valued) {
      if (Status shown = printLine("Skipped row: days out of range"); !shown.ok()) return shown;
      continue;
    }
    const std::int64_t rowStartTime = run.clock.now();
    Group& group = groups[groupOf[r]];
    if (!group.valued) {
      std::vector<ChainValues> chain;
      RandomGenerator from{group.firstState};
      // The group's paths start at its first row's S0 (0.0 and -0.0 are one group).
      const Status status = valueChain(rows[group.rows.front()].request, chains[groupOf[r]],
                                       from, run.queue,
                                       run.distribution, kDistributionFileName, chain, hooks);
      run.progress.clear();
      if (!status.ok()) return status;
      for (std::size_t i = 0; i < group.rows.size(); ++i) {
        if (group.rows[i] >= r && group.rows[i] < end) {
          values.emplace(group.rows[i], chain[i]);
        }
      }
      group.valued = true;
    }
    const auto found = values.find(r);
    const StandardErrors* errors = run.options.standardErrors ? &found->second.errors : nullptr;
    if (Status shown =
            writeConsoleRows(row.request, found->second.result, errors, run.clock, rowStartTime);
        !shown.ok()) {
      return shown;
    }
    if (Status written = writeResultRows(results, row.request, found->second.result, errors);
        !written.ok()) {
      return written;
    }
    if (withDesk) {
      const Status recorded =
          recordDeskRow(run.results, run.plot, static_cast<std::int64_t>(r) + 1, row.request,
                        found->second.result, found->second.errors, found->second.desk);
      if (!recorded.ok()) return recorded;
    }
    values.erase(found);
  }
  return {};
}

}  // namespace

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
  const std::int64_t batchRows =
      run.progress.enabled() || run.options.rows ? countBatchRows() : 0;
  if (run.options.rows && batchRows < shard.first) reportEmptyShard(shard, batchRows);
  const std::int64_t rowsShown =
      run.progress.enabled()
          ? std::max<std::int64_t>(0, std::min(batchRows, shard.last) - (shard.first - 1))
          : 0;
  LineBuffer headerLine{};
  readLine(batch, headerLine);  // the header, whatever it holds
  Status status = run.options.chain
                      ? valueChains(batch, results, settings, run, shard, rowsShown)
                      : valueRowByRow(batch, results, settings, run, shard, rowsShown);
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
