// The kept whole runs: inputs, standard input and clock, with the exact standard output,
// exit status and files that each run must leave.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

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
  // A missing or unreadable case fails; it is never skipped.
  ASSERT_TRUE(fs::is_directory(dirOfCase / "input")) << "no golden case at " << dirOfCase;
  const auto clockText = readFile(dirOfCase / "clock");
  const auto expectedOut = readFile(dirOfCase / "expected" / "stdout");
  const auto statusText = readFile(dirOfCase / "expected" / "status");
  ASSERT_TRUE(clockText && expectedOut && statusText) << "incomplete golden case " << dirOfCase;

  TempDir dir;
  for (const auto& entry : fs::directory_iterator(dirOfCase / "input")) {
    fs::copy_file(entry.path(), fs::path(dir.path()) / entry.path().filename());
  }
  std::int64_t start = 0;
  std::int64_t step = 0;
  ASSERT_TRUE(std::istringstream(*clockText) >> start >> step) << *clockText;
  const std::string input = readFile(dirOfCase / "stdin.txt").value_or("");

  const RunOutcome run = runIn(dir, {.input = input, .clock = ReplayClock{start, step}});

  EXPECT_EQ(withoutNanSign(run.out), withoutNanSign(*expectedOut));
  int expectedStatus = -2;
  ASSERT_TRUE(std::istringstream(*statusText) >> expectedStatus) << *statusText;
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
