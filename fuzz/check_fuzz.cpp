// empricer --check against a run's own readers, over arbitrary "Setup.txt", "dist.csv" and
// "batch.csv": every value --check says a line reads must be the value a run reads from it
// (fuzz/check_property.h says how the two are set side by side).
//
// Input: the three texts in that order, separated by "#|#"; a text that is missing, or that
// is the one byte 0x7F, leaves its file missing.
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "app/check/check_run.h"
#include "runs/file_names.h"
#include "fuzz/check_property.h"
#include "fuzz/harness.h"

using namespace empricer;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  harness::setUpProcess();
  const std::string input(reinterpret_cast<const char*>(data), size);
  const harness::Parts parts = harness::splitInput(input, "#|#", 3);
  const char* const names[3] = {kSettingsFileName, kDistributionFileName, kBatchFileName};
  for (int i = 0; i < 3; ++i) {
    std::remove(names[i]);
    if (parts.present[i] && parts.part[i] != "\x7f") harness::writeFile(names[i], parts.part[i]);
  }
  const std::optional<std::string> difference = check_property::firstDifference(checkFiles());
  FUZZ_CHECK(!difference, difference.value_or(""));
  return 0;
}
