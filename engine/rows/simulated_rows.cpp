#include "engine/rows/simulated_rows.h"

#include <deque>
#include <map>
#include <memory>
#include <unordered_map>
#include <utility>
#include <vector>

#include "engine/simulation/path_simulation.h"
#include "engine/table/random_jump.h"

namespace empricer {

namespace {

// Rows handed to the queue ahead of the one being completed, at most.
constexpr std::size_t kRowsAhead = 256;

class RowByRow final : public RowValuer {
 public:
  RowByRow(const RunRows& rows, const ValuerTools& tools) : rows_(rows), tools_(tools) {
    next_ = rows.first;
  }

  Status value(std::size_t r, RowFigures& figures) override {
    planThrough(r);
    const GroupPlan plan = std::move(plans_.front());
    plans_.pop_front();
    std::vector<RowFigures> values;
    const Status status = completeGroup(tools_.queue, tools_.distribution, tools_.distributionFile,
                                        plan, tools_.choice, values, tools_.watch);
    if (status.ok()) figures = values.front();
    return status;
  }

  ValuationDraws drawsOf(std::size_t r) const override {
    return {rows_.common.trajectories, rows_.rows[r].days, rows_.common.stepsPerDay};
  }

 private:
  // Hands the queue the valued rows through `r`, and on while it wants more.
  void planThrough(std::size_t r) {
    if (!jumped_) jumpToRange();
    while (next_ < rows_.end &&
           (next_ <= r || (next_ - r < kRowsAhead && tools_.queue.wantsMore()))) {
      const RunRow& row = rows_.rows[next_];
      if (row.valued) {
        plans_.push_back(planSingle(requestOf(rows_, next_), tools_.temporaryFile,
                                    kKeptReadBackBytes, row.quote));
        enqueueGroup(tools_.queue, plans_.back(), tools_.generator);
      }
      ++next_;
    }
  }

  // The draws of the valued rows before the range, jumped over at once (the sum may wrap
  // around: the generator's state has 2^32 values).
  void jumpToRange() {
    jumped_ = true;
    std::uint64_t skipped = 0;
    for (std::size_t r = 0; r < rows_.first && r < rows_.rows.size(); ++r) {
      if (rows_.rows[r].valued) skipped += drawsOfValuation(requestOf(rows_, r));
    }
    if (skipped != 0) {
      tools_.generator.state = applyJump(randomJump(skipped), tools_.generator.state);
    }
  }

  const RunRows& rows_;
  ValuerTools tools_;
  std::deque<GroupPlan> plans_;  // of the valued rows handed to the queue, not yet completed
  std::size_t next_ = 0;         // the next row to hand over
  bool jumped_ = false;
};

class InChains final : public RowValuer {
 public:
  InChains(const RunRows& rows, const ValuerTools& tools)
      : rows_(rows), tools_(tools), spots_(groupsBySpot(rows.rows)) {
    // A calibrated group's paths run to its last quoted expiry too.
    if (tools.calibration != nullptr) {
      for (SpotGroups::Group& group : spots_.groups) {
        const auto found = tools.calibration->find(rows.rows[group.rows.front()].spot);
        if (found == tools.calibration->end()) continue;
        for (const QuotedPrice& p : found->second) group.days = std::max(group.days, p.days);
      }
    }
    // Each group's first state: after every earlier group's trajectories x its days' steps.
    RandomGenerator generator = tools.generator;
    for (const SpotGroups::Group& group : spots_.groups) {
      firstStates_.push_back(generator.state);
      generator.state = applyJump(randomJump(empricer::drawsOf(rows.common.trajectories, group.days,
                                                               rows.common.stepsPerDay)),
                                  generator.state);
    }
    valued_.assign(spots_.groups.size(), false);
  }

  Status value(std::size_t r, RowFigures& figures) override {
    const std::size_t g = spots_.groupOf[r];
    if (!valued_[g]) {
      if (Status status = valueGroup(g, r); !status.ok()) return status;
      valued_[g] = true;
    }
    const auto found = values_.find(r);
    figures = found->second;
    values_.erase(found);
    return {};
  }

  ValuationDraws drawsOf(std::size_t r) const override {
    return {rows_.common.trajectories, spots_.groups[spots_.groupOf[r]].days,
            rows_.common.stepsPerDay};
  }

  Status prepare() override {
    if (Status checked =
            checkCalibration(rows_, tools_, [this](std::size_t r) { return refusal(r); },
                             &forwards_);
        !checked.ok() || tools_.calibration == nullptr) {
      return checked;
    }
    forwardsTable_ = tools_.distribution.current();
    // The calibrated groups first, in the order of their first rows: a measure the fit cannot
    // find on a group's paths stops the run before a value is written.
    for (std::size_t r = rows_.first; r < rows_.end; ++r) {
      if (!rows_.rows[r].valued) continue;
      const std::size_t g = spots_.groupOf[r];
      if (valued_[g] || tools_.calibration->count(rows_.rows[r].spot) == 0) continue;
      if (Status status = valueGroup(g, r); !status.ok()) return status;
      valued_[g] = true;
    }
    return {};
  }

 private:
  // The group's paths start at its first row's S0 (0.0 and -0.0 are one group); the figures
  // of its rows from `r` to the range's end are kept until their turn.
  Status valueGroup(std::size_t g, std::size_t r) {
    const SpotGroups::Group& group = spots_.groups[g];
    std::vector<GroupRow> chain;
    for (std::size_t row : group.rows) {
      chain.push_back({rows_.rows[row].strike, rows_.rows[row].days, rows_.rows[row].quote});
    }
    const double spot = rows_.rows[group.rows.front()].spot;
    std::vector<ExpiryQuotes> expiries;
    if (tools_.calibration != nullptr && tools_.calibration->count(spot) > 0) {
      expiries = expiriesOf(tools_.calibration->at(spot), rows_.common);
    }
    GroupPlan plan = planGroup(requestOf(rows_, group.rows.front()), std::move(chain), nullptr,
                               kKeptReadBackBytes, expiries);
    if (!expiries.empty()) {
      if (Status loaded = tools_.distribution.refresh(tools_.distributionFile); !loaded.ok()) {
        return loaded;
      }
      // As the reach's check found them, or worked out now.
      const auto found = forwards_.find(spot);
      if (found != forwards_.end() && found->second.size() == expiries.size() &&
          forwardsTable_ == tools_.distribution.current()) {
        plan.calibrationForwards = found->second;
      } else {
        ExactSetup setup;
        setup.stepsPerDay = rows_.common.stepsPerDay;
        plan.calibrationForwards =
            tableForwards(tools_.distribution.current()->draws, setup, expiries);
      }
      plan.threads = tools_.threads;
    }
    RandomGenerator from{firstStates_[g]};
    enqueueGroup(tools_.queue, plan, from);
    std::vector<RowFigures> figures;
    SampleMeasure measure;
    const Status status = completeGroup(tools_.queue, tools_.distribution,
                                        tools_.distributionFile, plan, tools_.choice, figures,
                                        tools_.watch, &measure);
    if (!status.ok()) return status;
    if (!expiries.empty()) {
      const SpotCalibration outcome =
          sampleCalibration(measure, spot, tools_.calibration->at(spot), expiries);
      if (tools_.calibrationLog != nullptr) tools_.calibrationLog->spots.push_back(outcome);
      if (Status met = calibrationMet(outcome, tools_.calibrationFile); !met.ok()) return met;
    }
    for (std::size_t i = 0; i < group.rows.size(); ++i) {
      if (group.rows[i] >= r && group.rows[i] < rows_.end) {
        values_.emplace(group.rows[i], figures[i]);
      }
    }
    return {};
  }

  const RunRows& rows_;
  ValuerTools tools_;
  SpotGroups spots_;
  std::vector<std::uint32_t> firstStates_;  // by group
  std::vector<bool> valued_;                // by group
  // By S0, the table's forwards at its expiries, as the check found them on forwardsTable_.
  std::map<double, std::vector<double>> forwards_;
  std::shared_ptr<const LoadedDistribution> forwardsTable_;
  std::unordered_map<std::size_t, RowFigures> values_;  // valued and not yet asked for, by row
};

}  // namespace

std::unique_ptr<RowValuer> simulatedRows(const RunRows& rows, const ValuerTools& tools) {
  return std::make_unique<RowByRow>(rows, tools);
}

std::unique_ptr<RowValuer> simulatedChains(const RunRows& rows, const ValuerTools& tools) {
  return std::make_unique<InChains>(rows, tools);
}

}  // namespace empricer
