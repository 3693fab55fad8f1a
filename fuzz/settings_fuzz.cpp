// The settings loader over arbitrary "Setup.txt" bytes, against a model built on the line
// and field models: the same settings, bit for bit, or the same failure with the same message.
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz/harness.h"
#include "fuzz/reference.h"
#include "runs/settings.h"

using namespace empricer;

namespace {

struct Expected {
  RunSettings settings;
  std::string stop;  // empty when the file loads
};

Expected model(const std::string& bytes) {
  Expected e;
  RunSettings& s = e.settings;
  bool given[8] = {};
  double trajectories = 0.0;
  for (const std::string& line : reference::handedLines(bytes)) {
    const auto key = reference::toInt32(reference::field(line, ' ', 1));
    if (!key || *key < 1 || *key > 7) continue;
    const double value = reference::field(line, ' ', 3);
    switch (*key) {
      case 1: s.runMode = value; break;
      case 2: trajectories = value; break;
      case 3: s.riskFreeRate = value; break;
      case 4: s.stepFraction = 0.003703703703703704 / value; break;
      case 5:
        for (int k = 0; k < 4; ++k) s.shiftFactor[k] = reference::field(line, ' ', 3 + k);
        break;
      case 6: s.pauseAtEnd = s.pauseAtEnd || value == 1.0; break;
      case 7: s.withProbabilities = s.withProbabilities || value == 1.0; break;
    }
    given[*key] = true;
  }
  for (int key = 2; key <= 5; ++key) {
    if (!given[key]) {
      e.stop = "Error in Setup.txt: no line for key " + std::to_string(key);
      return e;
    }
  }
  const auto t = reference::toInt32(trajectories);
  if (!t) {
    e.stop = "Error in Setup.txt: key 2 is out of range";
    return e;
  }
  s.trajectories = *t;
  return e;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  harness::setUpProcess();
  static harness::CapturedOutput output;
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  harness::writeFile("Setup.txt", bytes);
  const Expected want = model(bytes);

  output.reset();
  const Outcome<RunSettings> loaded = loadSettings("Setup.txt");
  FUZZ_CHECK(output.text().empty(), "the loader wrote " + harness::printable(output.text()));
  if (!want.stop.empty()) {
    FUZZ_CHECK(!loaded.ok(), "loaded, but should fail with " + want.stop);
    FUZZ_CHECK(loaded.message() == want.stop, harness::printable(loaded.message()));
    return 0;
  }
  FUZZ_CHECK(loaded.ok(), "failed with " + harness::printable(loaded.message()));
  const RunSettings& got = loaded.value();
  const RunSettings& w = want.settings;
  FUZZ_CHECK(reference::sameBits(got.runMode, w.runMode), "runMode");
  FUZZ_CHECK(got.trajectories == w.trajectories, "trajectories");
  FUZZ_CHECK(reference::sameBits(got.riskFreeRate, w.riskFreeRate), "riskFreeRate");
  FUZZ_CHECK(reference::sameBits(got.stepFraction, w.stepFraction), "stepFraction");
  for (int k = 0; k < 4; ++k) {
    FUZZ_CHECK(reference::sameBits(got.shiftFactor[k], w.shiftFactor[k]), "shiftFactor");
  }
  FUZZ_CHECK(got.pauseAtEnd == w.pauseAtEnd, "pauseAtEnd");
  FUZZ_CHECK(got.withProbabilities == w.withProbabilities, "withProbabilities");
  return 0;
}
