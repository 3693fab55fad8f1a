#include "engine/table/distribution_cache.h"

#include <cmath>

#include "text/input_stream.h"

namespace empricer {

namespace {

// Files up to this size are kept whole to be compared with the next read; larger files, and
// files that are not regular (pipes, devices), are read as a stream and loaded every time.
constexpr std::size_t kLargestKeptFile = std::size_t{64} << 20;

}  // namespace

ReturnRange rangeOfReturns(const DrawTable& draws) {
  ReturnRange range{draws.returnFor[0], draws.returnFor[0], false};
  for (double w : draws.returnFor) {
    range.hasNaN = range.hasNaN || std::isnan(w);
    range.lowest = w < range.lowest ? w : range.lowest;
    range.highest = w > range.highest ? w : range.highest;
  }
  return range;
}

Status loadDistributionText(const std::string& bytes, const char* name,
                            std::shared_ptr<const LoadedDistribution>& loaded) {
  auto next = std::make_shared<LoadedDistribution>();
  InputStream text;
  openFromMemory(text, bytes.data(), bytes.size());
  if (Status read = readReturnTable(next->table, text, name); !read.ok()) return read;
  next->bytes = bytes;
  next->kept = true;
  next->hi = static_cast<std::int32_t>(next->table.totalWeight);
  buildDrawTable(next->table, next->hi, next->draws);
  next->range = rangeOfReturns(next->draws);
  loaded = std::move(next);
  return {};
}

Status DistributionCache::refresh(const char* path) {
  if (held_) return {};
  InputStream stream;
  openForReading(stream, path);
  if (!isOpen(stream)) return openFailure(path);
  std::string bytes;
  const bool whole = readWholeFile(stream, bytes, kLargestKeptFile);
  if (whole && current_ != nullptr && current_->kept && current_->bytes == bytes) return {};

  std::shared_ptr<LoadedDistribution> next =
      spare_ != nullptr ? std::move(spare_) : std::make_shared<LoadedDistribution>();
  Status loaded;
  if (whole) {
    InputStream text;
    openFromMemory(text, bytes.data(), bytes.size());
    loaded = readReturnTable(next->table, text, path);
  } else {
    loaded = readReturnTable(next->table, stream, path);
  }
  if (!loaded.ok()) {
    spare_ = std::move(next);
    return loaded;
  }
  next->bytes = std::move(bytes);
  next->kept = whole;
  // The total weight was checked to fit 32 bits when the table was loaded.
  next->hi = static_cast<std::int32_t>(next->table.totalWeight);
  buildDrawTable(next->table, next->hi, next->draws);
  next->range = rangeOfReturns(next->draws);

  // The load it replaces can serve the next change, unless a valuation still holds it.
  std::shared_ptr<const LoadedDistribution> previous = std::move(current_);
  current_ = std::move(next);
  ++version_;
  if (previous != nullptr && previous.use_count() == 1) {
    spare_ = std::const_pointer_cast<LoadedDistribution>(std::move(previous));
  }
  return {};
}

}  // namespace empricer
