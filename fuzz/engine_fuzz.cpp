// The trajectory loops: the lockstep loop, on every path this processor has, against the
// one-at-a-time loop, for odd starts, strikes, growth and returns (zeros, negatives,
// infinities, NaN, huge and tiny values) and small trajectory and day counts. The sums, the
// terminal rows and the generator state left behind must agree bit for bit (NaNs of either
// sign count as the same, in the sums and in the rows' text).
//
// Returns and growth can also be small, as real ones are, so that the wide kernels' band-test
// skipping is taken often and must agree too.
//
// Input: generator state (4 bytes), trajectories, days, a pattern byte (bits 0-3: the shift
// for the return pattern; bits 4-5: the returns' scale; bit 6: a growth near 1), then three
// bytes for each of the five starts, the strike and the growth, then one byte for each of 16
// returns.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "engine/table/draw_table.h"
#include "engine/simulation/lockstep_simulation.h"
#include "engine/simulation/path_simulation.h"
#include "engine/table/random_generator.h"
#include "fuzz/harness.h"
#include "tests/support/simulate_lockstep.h"

using namespace empricer;

namespace {

// Starts, strikes, growth factors and returns that stress the arithmetic: signed zeros,
// infinities, NaN, huge, tiny and subnormal values, and the band's own factors.
const double kOddValues[] = {0.0,      -0.0,      1.0,  100.0, 95.0, 1e-300, 1e300,
                             INFINITY, -INFINITY, NAN,  -5.0,  0.5,  1.07,
                             0.9345794392523364, 1.0000000001, 4.9e-324, -1e-300};
constexpr int kOddValueCount = sizeof kOddValues / sizeof kOddValues[0];

struct Reader {
  const std::uint8_t* data;
  std::size_t size;
  std::size_t at = 0;
  std::uint8_t byte() { return at < size ? data[at++] : 0; }
  // A value near `typical`, or one of the special values.
  double value(double typical) {
    const std::uint8_t selector = byte();
    const std::int16_t raw = static_cast<std::int16_t>(byte() | (byte() << 8));
    if (selector >= 256 - kOddValueCount) return kOddValues[selector - (256 - kOddValueCount)];
    return typical + raw / 256.0;
  }
};

bool same(double a, double b) {
  if (std::isnan(a) && std::isnan(b)) return true;
  return std::memcmp(&a, &b, sizeof a) == 0;
}

// The rows' text, with "-nan" written as "nan": the sign of a NaN depends on the order of
// the operands that made it, which the loops need not share.
std::string fileText(std::FILE* f) {
  std::fflush(f);
  std::string text;
  std::rewind(f);
  char block[4096];
  std::size_t got;
  while ((got = std::fread(block, 1, sizeof block, f)) > 0) text.append(block, got);
  for (std::size_t at = text.find("-nan"); at != std::string::npos; at = text.find("-nan", at)) {
    text.erase(at, 1);
  }
  return text;
}

void compare(const PayoffSums& want, const PayoffSums& got, const char* path) {
  const std::string where = std::string("path ") + path;
  for (int p = 0; p < kPathCount; ++p) {
    FUZZ_CHECK(same(want.call[p], got.call[p]), where + " call " + std::to_string(p));
    FUZZ_CHECK(same(want.put[p], got.put[p]), where + " put " + std::to_string(p));
    FUZZ_CHECK(same(want.dayBeforeCall[p], got.dayBeforeCall[p]), where + " dayBeforeCall");
    FUZZ_CHECK(same(want.dayBeforePut[p], got.dayBeforePut[p]), where + " dayBeforePut");
  }
  FUZZ_CHECK(same(want.sumPrices, got.sumPrices), where + " sumPrices");
  FUZZ_CHECK(same(want.sumSquares, got.sumSquares), where + " sumSquares");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static auto draws = std::make_unique<DrawTable>();
  if (size < 7) return 0;
  Reader in{data, size};
  std::uint32_t state = 0;
  for (int i = 0; i < 4; ++i) state = (state << 8) | in.byte();
  SimulationSetup setup{};
  setup.trajectories = static_cast<std::int32_t>(in.byte() % 40) - 3;
  setup.days = static_cast<std::int32_t>(in.byte() % 7) - 2;
  const std::uint8_t pattern = in.byte();
  const int shift = pattern % 16;
  const double scale = 1000.0 * std::pow(10.0, (pattern >> 4) % 4);
  for (int p = 0; p < kPathCount; ++p) setup.start[p] = in.value(100.0);
  setup.strike = in.value(100.0);
  setup.growth = in.value(1.0);
  if ((pattern & 0x40) != 0) setup.growth = 1.0 + (setup.growth - 1.0) * 1e-6;
  double returns[16];
  for (double& r : returns) {
    const std::uint8_t b = in.byte();
    r = b >= 256 - kOddValueCount ? kOddValues[b - (256 - kOddValueCount)]
                                 : (static_cast<int>(b) - 120) / scale;
  }
  for (int r = 0; r < kGeneratorOutputs; ++r) draws->returnFor[r] = returns[(r >> shift) % 16];
  setup.draws = draws.get();
  const bool rows = (data[0] & 1) != 0;

  std::FILE* wantRows = rows ? std::tmpfile() : nullptr;
  setup.terminalRows = wantRows;
  RowPricer wantSums(setup.strike, true);
  RandomGenerator wantGenerator{state};
  simulateOneByOne(setup, wantSums, wantGenerator);
  const PayoffSums want = wantSums.sums();
  const std::uint32_t wantState = wantGenerator.state;
  const std::string wantText = rows ? fileText(wantRows) : "";
  if (wantRows != nullptr) std::fclose(wantRows);

  for (KernelKind path : {KernelKind::Reference, KernelKind::Scalar, KernelKind::Avx2,
                            KernelKind::Avx512}) {
    if (!kernelAvailable(path)) continue;
    std::FILE* gotRows = rows ? std::tmpfile() : nullptr;
    setup.terminalRows = gotRows;
    RowPricer gotSums(setup.strike, true);
    RandomGenerator generator{state};
    simulateLockstep(setup, gotSums, generator, path);
    compare(want, gotSums.sums(), kernelName(path));
    const StandardErrors wantErrors = wantSums.standardErrors(1.0);
    const StandardErrors gotErrors = gotSums.standardErrors(1.0);
    FUZZ_CHECK(std::memcmp(&wantErrors, &gotErrors, sizeof wantErrors) == 0,
               std::string("standard errors, ") + kernelName(path));
    FUZZ_CHECK(generator.state == wantState,
               std::string("generator state, ") + kernelName(path));
    if (rows) {
      const std::string gotText = fileText(gotRows);
      FUZZ_CHECK(gotText == wantText, std::string("terminal rows, ") + kernelName(path) +
                                          "\none by one:\n" + wantText.substr(0, 2000) +
                                          "\nlockstep:\n" + gotText.substr(0, 2000));
      std::fclose(gotRows);
    }
  }
  return 0;
}
