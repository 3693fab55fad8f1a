// The distribution loader over arbitrary "dist.csv" bytes, against a model built on the line
// and field models (the same rows and running sums, bit for bit, or the same failure), and the
// per-draw table against the literal scan of sampleReturn for every one of the 32768
// generator outputs (a fixed sample of them for the largest tables, where the scan is slow).
//
// Input: one control byte, then the file's body. Control bytes from 0xF0 on repeat the body
// (625 times per step above 0xEF), so that files around the 5000-row limit come up.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/table/draw_table.h"
#include "engine/table/return_table.h"
#include "fuzz/harness.h"
#include "fuzz/reference.h"

using namespace empricer;

namespace {

constexpr std::size_t kLargestFile = 1u << 17;

struct Expected {
  std::vector<double> returns, weights, cumulative;
  std::string stop;
};

Expected model(const std::string& bytes) {
  Expected e;
  for (const std::string& line : reference::handedLines(bytes)) {
    if (e.returns.size() == 5000) {
      e.stop = "Error in dist.csv: more than 5000 rows";
      return e;
    }
    const double w = reference::field(line, ',', 2);
    e.returns.push_back(reference::field(line, ',', 1));
    e.weights.push_back(w);
    e.cumulative.push_back(e.cumulative.empty() ? w : w + e.cumulative.back());
  }
  if (e.returns.empty()) {
    e.stop = "Error in dist.csv: no data rows";
  } else if (!std::isfinite(e.cumulative.back()) || !reference::toInt32(e.cumulative.back())) {
    e.stop = "Error in dist.csv: total weight out of range";
  }
  return e;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  harness::setUpProcess();
  static harness::CapturedOutput output;
  static auto table = std::make_unique<ReturnTable>();
  static auto draws = std::make_unique<DrawTable>();
  if (size == 0) return 0;
  const std::string body(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::size_t repeat = data[0] < 0xF0 ? 1 : static_cast<std::size_t>(data[0] - 0xEF) * 625;
  if (!body.empty() && body.size() * repeat > kLargestFile) {
    repeat = std::max<std::size_t>(1, kLargestFile / body.size());
  }
  std::string bytes;
  bytes.reserve(body.size() * repeat);
  for (std::size_t i = 0; i < repeat; ++i) bytes += body;
  harness::writeFile("dist.csv", bytes);
  const Expected want = model(bytes);

  // Leftovers of an earlier load must not matter.
  std::memset(table.get(), 0x7f, sizeof *table);
  output.reset();
  const Status loaded = loadReturnTable(*table, "dist.csv");
  FUZZ_CHECK(output.text().empty(), "the loader wrote " + harness::printable(output.text()));
  if (!want.stop.empty()) {
    FUZZ_CHECK(!loaded.ok(), "loaded, but should fail with " + want.stop);
    FUZZ_CHECK(loaded.message() == want.stop, harness::printable(loaded.message()));
    return 0;
  }
  FUZZ_CHECK(loaded.ok(), "failed with " + harness::printable(loaded.message()));

  const std::size_t rows = want.returns.size();
  FUZZ_CHECK(table->rowCount == static_cast<std::int32_t>(rows), "rowCount");
  for (std::size_t i = 0; i < static_cast<std::size_t>(kTableCapacity); ++i) {
    const bool loaded = i < rows;
    FUZZ_CHECK(reference::sameBits(table->returns[i], loaded ? want.returns[i] : 0.0),
               "returns[" + std::to_string(i) + "]");
    FUZZ_CHECK(reference::sameBits(table->cumulative[i], loaded ? want.cumulative[i] : 0.0),
               "cumulative[" + std::to_string(i) + "]");
    if (loaded) FUZZ_CHECK(reference::sameBits(table->weights[i], want.weights[i]), "weights");
  }
  FUZZ_CHECK(reference::sameBits(table->totalWeight, want.cumulative.back()), "totalWeight");

  // The per-draw table for the draw range the engine uses.
  const std::int32_t hi = static_cast<std::int32_t>(table->totalWeight);
  buildDrawTable(*table, hi, *draws);
  // The literal scan costs rows x distinct draws; past a budget (large tables with large
  // weights), every 61st output and the last one are checked instead of all of them.
  const std::int64_t distinctDraws =
      std::min<std::int64_t>(kGeneratorOutputs, std::abs(static_cast<std::int64_t>(hi)) + 1);
  const bool everyOutput = static_cast<std::int64_t>(rows) * distinctDraws <= 4'000'000;
  std::int32_t previousDraw = 0;
  double previousReturn = 0.0;
  for (int r = 0; r < kGeneratorOutputs; ++r) {
    if (!everyOutput && r % 61 != 0 && r != kGeneratorOutputs - 1) continue;
    const std::int32_t u = drawFromOutput(r, 0, hi);
    const auto literal = reference::toInt32(static_cast<double>(r) *
                                            0.00003051850947599719 *
                                            static_cast<double>(hi));
    FUZZ_CHECK(literal && *literal == u, "draw of output " + std::to_string(r));
    FUZZ_CHECK(hi >= 0 ? (u >= 0 && u <= hi) : (u <= 0 && u >= hi), "draw out of range");
    // The scan depends on the draw alone; draws come in runs, so scan once per run.
    if (r == 0 || u != previousDraw) {
      previousReturn = sampleReturn(*table, static_cast<double>(u));
      previousDraw = u;
    }
    FUZZ_CHECK(reference::sameBits(draws->returnFor[r], previousReturn),
               "output " + std::to_string(r) + " draw " + std::to_string(u) + ": table " +
                   harness::hexText(draws->returnFor[r]) + " scan " +
                   harness::hexText(previousReturn));
  }
  return 0;
}
