// The recorded whole runs: inputs, standard input and clock, with the exact standard output,
// exit status and files that each run must leave.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "run_support.h"

namespace fs = std::filesystem;

namespace {

// The sign of a NaN is the hardware's business: "-nan" and "nan" count as the same text.
std::string withoutNanSign(std::string text) {
  for (std::size_t at = text.find("-nan"); at != std::string::npos; at = text.find("-nan", at)) {
    text.erase(at, 1);
  }
  return text;
}

class GoldenCase : public ::testing::TestWithParam<std::string> {};

TEST_P(GoldenCase, MatchesByteForByte) {
  const fs::path dirOfCase = fs::path(EMPRICER_GOLDEN_DIR) / GetParam();
  if (!fs::exists(dirOfCase)) GTEST_SKIP() << "no golden case at " << dirOfCase;

  TempDir dir;
  for (const auto& entry : fs::directory_iterator(dirOfCase / "input")) {
    fs::copy_file(entry.path(), fs::path(dir.path()) / entry.path().filename());
  }
  std::int64_t start = 0;
  std::int64_t step = 0;
  std::ifstream(dirOfCase / "clock") >> start >> step;
  const std::string input = readFile(dirOfCase / "stdin.txt").value_or("");

  const RunOutcome run = runIn(dir, input, std::make_pair(start, step));

  const std::string expectedOut = *readFile(dirOfCase / "expected" / "stdout");
  EXPECT_EQ(withoutNanSign(run.out), withoutNanSign(expectedOut));
  int expectedStatus = -2;
  std::ifstream(dirOfCase / "expected" / "status") >> expectedStatus;
  EXPECT_EQ(run.status, expectedStatus);

  for (const char* name : {"Batch_Result.csv", "VelmarTemp.txt"}) {
    const auto expected = readFile(dirOfCase / "expected" / name);
    const bool wasInput = fs::exists(dirOfCase / "input" / name);
    if (expected) {
      EXPECT_EQ(dir.read(name), *expected) << name;
    } else if (!wasInput) {
      EXPECT_FALSE(dir.exists(name)) << name << " must not be left behind";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(All, GoldenCase,
                         ::testing::Values("case01", "case02", "case03", "case04", "case05",
                                           "case06", "case07", "case08", "case09", "case10",
                                           "case11", "case12"));

}  // namespace
