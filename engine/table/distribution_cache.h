// The distribution as the simulation uses it, kept from one valuation to the next: every
// valuation reads the distribution file again (it may change or vanish between valuations),
// and when its bytes are those of the previous load, the parsed table and the draw table are
// used again instead of being built anew.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "engine/table/draw_table.h"
#include "engine/table/return_table.h"
#include "text/status.h"

namespace empricer {

// The smallest and largest return of a draw table, and whether any is NaN.
struct ReturnRange {
  double lowest;
  double highest;
  bool hasNaN;
};
ReturnRange rangeOfReturns(const DrawTable& draws);

struct LoadedDistribution;
// A distribution from the bytes of a dist.csv, loaded as a file of those bytes would be
// (`name` in the messages). Fails with the message the program stops with.
Status loadDistributionText(const std::string& bytes, const char* name,
                            std::shared_ptr<const LoadedDistribution>& loaded);

struct LoadedDistribution {
  std::string bytes;  // the file as it was read; empty when it was not kept
  bool kept = false;  // whether `bytes` can tell a later load apart
  ReturnTable table;
  std::int32_t hi = 0;  // the draws run from 0 to hi: the total weight, truncated
  DrawTable draws;
  ReturnRange range;
};

class DistributionCache {
 public:
  // Reads the file at `path`. Fails, with the message the program stops with, when it cannot
  // be opened or does not load; the last good load stays then.
  Status refresh(const char* path);
  // The distribution of the last successful refresh (nullptr before the first).
  const std::shared_ptr<const LoadedDistribution>& current() const { return current_; }
  // Counts the refreshes that gave a table different from the one before.
  std::uint64_t version() const { return version_; }
  // Keeps `loaded` as the distribution for good: every later refresh leaves it, whatever the
  // path (for a table that was given, not read from a file).
  void hold(std::shared_ptr<const LoadedDistribution> loaded) {
    current_ = std::move(loaded);
    held_ = true;
    ++version_;
  }

 private:
  std::shared_ptr<const LoadedDistribution> current_;
  std::shared_ptr<LoadedDistribution> spare_;  // memory of a load no longer in use
  std::uint64_t version_ = 0;
  bool held_ = false;
};

}  // namespace empricer
