// Whole runs: the banner, how the run mode is settled, the closing line, the pause and the
// exit status.
#include <gtest/gtest.h>

#include <string>

#include "run_support.h"


namespace {

const std::string kQuestion = "Manual[1] or Batch[2] run? ";
const std::string kBanner = bannerText("0", 2);

// Runs in a directory that holds the settings and small run inputs.
RunOutcome run(const SetupFile& setup, const std::string& input) {
  TempDir dir;
  dir.write("Setup.txt", setupText(setup));
  dir.write("dist.csv", "0.001,5\n");
  dir.write("batch.csv", "S0,K,Days\n100,100,1\n");
  return runIn(dir, {.input = input});
}

bool startsWith(const std::string& text, const std::string& head) {
  return text.compare(0, head.size(), head) == 0;
}

std::size_t count(const std::string& text, const std::string& piece) {
  std::size_t n = 0;
  for (std::size_t at = text.find(piece); at != std::string::npos; ++n) {
    at = text.find(piece, at + 1);
  }
  return n;
}

TEST(ProgramFlow, RunModeFromTheSettingsIsTruncated) {
  for (const char* mode : {"1", "1.9"}) {
    const RunOutcome r = run({.runMode = mode}, "100 100 1\n");
    EXPECT_TRUE(startsWith(r.out, kBanner + "INPUTS:\nUnderlying Price: ")) << mode << r.out;
    EXPECT_EQ(count(r.out, "OUTPUT:"), 1u);
    EXPECT_EQ(r.status, 0);
  }
  const RunOutcome batch = run({.runMode = "2.5"}, "");
  EXPECT_TRUE(startsWith(batch.out, kBanner + "OUTPUTS: \n")) << batch.out;
  EXPECT_EQ(batch.status, 0);
}

TEST(ProgramFlow, ModesThatSelectNoRunEndWithTheClosingLine) {
  for (const char* mode : {"3", "-1", "-1.5", "1e12", "-1e12", "1e400"}) {
    const RunOutcome r = run({.runMode = mode}, "1\n");
    EXPECT_EQ(r.out, kBanner + "\n") << mode;
    EXPECT_EQ(r.status, 0);
  }
}

TEST(ProgramFlow, ModeZeroAsksTheQuestion) {
  for (const char* mode : {"0", "0.5", "-0.7", "", "word"}) {
    for (const char* answer : {"0\n", "7\n", "", "abc\n", "-\n", "3.9\n"}) {
      const RunOutcome r = run({.runMode = mode}, answer);
      EXPECT_EQ(r.out, kBanner + kQuestion + "\n\n") << '"' << mode << "\" " << answer;
      EXPECT_EQ(r.status, 0);
    }
  }
  const RunOutcome batch = run({.runMode = "0.5"}, "2\n");
  EXPECT_TRUE(startsWith(batch.out, kBanner + kQuestion + "\nOUTPUTS: \n")) << batch.out;
  const RunOutcome manual = run({.runMode = "-0.7"}, "1.5 100 100 1\n");
  EXPECT_TRUE(startsWith(manual.out, kBanner + kQuestion + "\nINPUTS:\n")) << manual.out;
  EXPECT_NE(manual.out.find("OUTPUT:"), std::string::npos);
}

TEST(ProgramFlow, PauseAtTheEndComesOnceAfterTheClosingLine) {
  RunOutcome r = run({.runMode = "3", .pauseAtEnd = true}, "");
  EXPECT_EQ(r.out, kBanner + "\n" + kPauseLine);
  EXPECT_EQ(r.status, 0);
  r = run({.runMode = "0", .pauseAtEnd = true}, "7\n");
  EXPECT_EQ(r.out, kBanner + kQuestion + "\n\n" + kPauseLine);
  r = run({.runMode = "1", .pauseAtEnd = true}, "100 100 1\n");
  EXPECT_EQ(count(r.out, kPauseLine), 1u);
  EXPECT_TRUE(r.out.ends_with("\n\n" + kPauseLine)) << r.out;
  r = run({.runMode = "1", .moreLines = "6 Pause 0\n"}, "100 100 1\n");
  EXPECT_EQ(count(r.out, "Press any key"), 0u);
  EXPECT_TRUE(r.out.ends_with(" seconds.\n\n")) << r.out;
}

TEST(ProgramFlow, BannerShowsRateAndTrajectories) {
  TempDir dir;
  dir.write("Setup.txt", "1 Mode 3\n2 T 10000\n3 Rate 0.05\n4 S 1\n5 F 1 1 1 1\n");
  const RunOutcome r = runIn(dir, {});
  EXPECT_EQ(r.out, bannerText("0.05", 10000) + "\n");
}

}  // namespace
