// The elapsed-time line and its two clock readings.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <unistd.h>

#include "runs/elapsed_time.h"
#include "stepping_clock.h"

using namespace empricer;

namespace {

// What `action` writes to standard output.
std::string capturedStdout(const std::function<void()>& action) {
  std::fflush(stdout);
  std::FILE* sink = std::tmpfile();
  const int saved = ::dup(STDOUT_FILENO);
  ::dup2(::fileno(sink), STDOUT_FILENO);
  action();
  std::fflush(stdout);
  ::dup2(saved, STDOUT_FILENO);
  ::close(saved);
  std::string text;
  std::rewind(sink);
  for (int c; (c = std::fgetc(sink)) != EOF;) text.push_back(static_cast<char>(c));
  std::fclose(sink);
  return text;
}

// The line written when the clock reads since + first, then moves by `step` per reading.
std::string lineFor(std::int64_t first, std::int64_t step, const char* prefix = "Elapse time: ") {
  const std::int64_t since = 1700000000;
  SteppingClock clock(since + first, step);
  const std::string out = capturedStdout([&] { writeElapsedLine(clock, prefix, since); });
  EXPECT_EQ(clock.readings, 2);
  return out;
}

TEST(ElapsedTime, SecondsBelow200ThenWholeMinutes) {
  EXPECT_EQ(lineFor(0, 0), "Elapse time: 0 seconds.\n");
  EXPECT_EQ(lineFor(199, 0), "Elapse time: 199 seconds.\n");
  EXPECT_EQ(lineFor(200, 0), "Elapse time: 3 minutes.\n");
  EXPECT_EQ(lineFor(239, 0), "Elapse time: 3 minutes.\n");
  EXPECT_EQ(lineFor(240, 0), "Elapse time: 4 minutes.\n");
  EXPECT_EQ(lineFor(86400, 0, "Total elapse time: "), "Total elapse time: 1440 minutes.\n");
}

TEST(ElapsedTime, FirstReadingDecidesSecondReadingIsWritten) {
  EXPECT_EQ(lineFor(199, 1), "Elapse time: 200 seconds.\n");
  EXPECT_EQ(lineFor(198, 1), "Elapse time: 199 seconds.\n");
  EXPECT_EQ(lineFor(150, 100), "Elapse time: 250 seconds.\n");
  EXPECT_EQ(lineFor(200, 59), "Elapse time: 4 minutes.\n");
  EXPECT_EQ(lineFor(239, 1), "Elapse time: 4 minutes.\n");
}

TEST(ElapsedTime, ClockGoingBackCountsAsSeconds) {
  EXPECT_EQ(lineFor(-5, 0), "Elapse time: -5 seconds.\n");
  EXPECT_EQ(lineFor(-500, 0), "Elapse time: -500 seconds.\n");
}

}  // namespace
