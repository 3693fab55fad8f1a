// Whole runs whose outputs cannot be written: a result file or standard output on /dev/full, a
// small file system that fills up during a batch, the temporary file with the probabilities
// on, and empricer-dist's two outputs on a full file system. Then the temporary file's name
// taken by a symbolic link, and a shard of a batch that selects no row.
//
// The full file systems are tmpfs mounts of a few pages on a test's own directory; where this
// process may not mount one, those cases are skipped with a message.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "run_support.h"


namespace fs = std::filesystem;

namespace {

const std::string kBanner = bannerText("0", 2);
const std::string kFullDevice = "/dev/full";
const std::string kNoSpace = "empricer: standard output: No space left on device\n";
const std::string kDashes = "----------------------------------------\n";
// Every draw returns 0: prices stay where they start.
const std::string kFlatDistribution = "0,1\n";

// A tmpfs of `size` mounted on `dir` for the life of the object, when this process may mount
// one; files written to `dir` before are hidden meanwhile.
class SmallFileSystem {
 public:
  SmallFileSystem(const TempDir& dir, const std::string& size) : path_(dir.path()) {
    mounted_ = ::mount("tmpfs", path_.c_str(), "tmpfs", MS_NOSUID | MS_NODEV,
                       ("size=" + size).c_str()) == 0;
    if (!mounted_) why_ = std::strerror(errno);
  }
  ~SmallFileSystem() {
    if (mounted_) ::umount2(path_.c_str(), MNT_DETACH);
  }
  SmallFileSystem(const SmallFileSystem&) = delete;
  SmallFileSystem& operator=(const SmallFileSystem&) = delete;

  bool mounted() const { return mounted_; }
  std::string skipMessage() const {
    return "cannot mount a small tmpfs here (" + why_ + "); it takes root";
  }
  // Takes every free block with a file of that name.
  void fill(const std::string& name) const {
    const int fd = ::open((path_ + "/" + name).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    const std::string block(4096, 'x');
    while (::write(fd, block.data(), block.size()) > 0) {
    }
    ::close(fd);
  }

 private:
  std::string path_;
  bool mounted_ = false;
  std::string why_;
};

// The program under /bin/sh with its standard output on /dev/full; `arguments` follow the
// clocked program's clock.
RunOutcome runOnFullOutput(const TempDir& dir, const std::vector<std::string>& arguments,
                           const std::string& input = "") {
  std::vector<std::string> words = {"-c", "exec \"$0\" \"$@\" > " + kFullDevice,
                                    EMPRICER_CLOCKED_BINARY,
                                    std::to_string(kStillClock.start),
                                    std::to_string(kStillClock.step)};
  words.insert(words.end(), arguments.begin(), arguments.end());
  return runIn(dir, {.input = input, .arguments = words, .program = "/bin/sh"});
}

bool fullDeviceIsIntact() {
  struct stat status;
  return ::lstat(kFullDevice.c_str(), &status) == 0 && S_ISCHR(status.st_mode);
}

std::string rows(int count, const std::string& row) {
  std::string text;
  for (int i = 0; i < count; ++i) text += row;
  return text;
}

// The text up to and with the end of the n-th occurrence of `piece`; all of it when fewer.
std::string throughOccurrence(const std::string& text, const std::string& piece, int n) {
  std::size_t at = 0;
  for (int i = 0; i < n; ++i) {
    at = text.find(piece, at);
    if (at == std::string::npos) return text;
    at += piece.size();
  }
  return text.substr(0, at);
}

TEST(WriteErrors, AnOutputOnAFullDeviceStopsTheRunWithStatus1) {
  ASSERT_TRUE(fullDeviceIsIntact());
  const std::string setup = setupText({.runMode = "2"});
  // Batch_Result.csv as a link to the full device: the header cannot be written.
  {
    TempDir dir;
    dir.write("Setup.txt", setup);
    dir.write("dist.csv", kFlatDistribution);
    dir.write("batch.csv", "S0,K,days\n100,95,1\n");
    fs::create_symlink(kFullDevice, dir.file("Batch_Result.csv"));
    const RunOutcome run = runIn(dir, {.clock = kStillClock, .arguments = {"--seed", "7"}});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, kBanner + "Error writing file: Batch_Result.csv" + kPauseLine);
    EXPECT_TRUE(fs::is_symlink(dir.file("Batch_Result.csv")));
  }
  // The tidy results file on the full device, in a manual run: its header cannot be written.
  {
    TempDir dir;
    dir.write("Setup.txt", setupText({.runMode = "1"}));
    dir.write("dist.csv", kFlatDistribution);
    const RunOutcome run = runIn(dir, {.input = "100\n95\n1\n", .clock = kStillClock,
                                       .arguments = {"--seed", "7", "--results", kFullDevice}});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, kBanner + "Error writing file: " + kFullDevice + kPauseLine);
  }
  // Standard output on the full device, for every kind of run and for what the options print:
  // the message on standard error, status 1, and no result file for a run that stops at once.
  struct Case {
    std::string name;
    std::string setup;
    std::vector<std::string> arguments;
  };
  const std::vector<Case> cases = {
      {"batch run", setup, {}},
      {"manual run", setupText({.runMode = "1"}), {}},
      {"asked run mode", setupText({}), {}},
      {"--help", setup, {"--help"}},
      {"--version", setup, {"--version"}},
      {"--check", setup, {"--check"}},
  };
  for (const Case& c : cases) {
    TempDir dir;
    dir.write("Setup.txt", c.setup);
    dir.write("dist.csv", kFlatDistribution);
    dir.write("batch.csv", "S0,K,days\n100,95,1\n");
    const RunOutcome run = runOnFullOutput(dir, c.arguments, "100\n95\n1\n");
    EXPECT_EQ(run.status, 1) << c.name;
    EXPECT_EQ(run.err, kNoSpace) << c.name;
    EXPECT_FALSE(dir.exists("Batch_Result.csv")) << c.name;
  }
  EXPECT_TRUE(fullDeviceIsIntact());
}

TEST(WriteErrors, AResultFileThatFillsItsFileSystemKeepsWholeRowsAndStops) {
  const std::string setup = setupText({.runMode = "2"});
  const std::string batch = "S0,K,days\n" + rows(600, "100,95,1\n");
  TempDir reference;
  reference.write("Setup.txt", setup);
  reference.write("dist.csv", kFlatDistribution);
  reference.write("batch.csv", batch);
  const RunOutcome whole = runIn(reference, {.clock = kStillClock});
  ASSERT_EQ(whole.status, 0);
  const std::string allResults = reference.read("Batch_Result.csv");

  TempDir dir;
  SmallFileSystem small(dir, "32k");
  if (!small.mounted()) GTEST_SKIP() << small.skipMessage();
  dir.write("Setup.txt", setup);
  dir.write("dist.csv", kFlatDistribution);
  dir.write("batch.csv", batch);
  const RunOutcome run = runIn(dir, {.clock = kStillClock});
  EXPECT_EQ(run.status, 1);

  // Whole rows only, the same as the whole run's first ones: header plus five lines a row.
  const std::string results = dir.read("Batch_Result.csv");
  ASSERT_FALSE(results.empty());
  EXPECT_EQ(results.back(), '\n');
  const std::size_t lines = splitLines(results).size();
  EXPECT_EQ((lines - 1) % 5, 0u) << lines << " lines";
  const int rowsWritten = static_cast<int>((lines - 1) / 5);
  EXPECT_GT(rowsWritten, 0);
  EXPECT_LT(rowsWritten, 600);
  EXPECT_EQ(results, allResults.substr(0, results.size()));
  // The console shows every row written and the one that could not be, then the stop.
  EXPECT_EQ(run.out, throughOccurrence(whole.out, kDashes, rowsWritten + 1) +
                         "Error writing file: Batch_Result.csv" + kPauseLine);
}

TEST(WriteErrors, TheTemporaryFileOnAFullFileSystemStopsTheRun) {
  TempDir dir;
  SmallFileSystem small(dir, "16k");
  if (!small.mounted()) GTEST_SKIP() << small.skipMessage();
  dir.write("Setup.txt", setupText({.runMode = "1", .trajectories = 1000, .probabilities = true}));
  dir.write("dist.csv", kFlatDistribution);
  small.fill("filler");
  const RunOutcome run = runIn(dir, {.input = "100\n95\n1\n", .clock = kStillClock});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, bannerText("0", 1000) +
                         "INPUTS:\nUnderlying Price: Strike Price: Time to Maturity (days): "
                         "Error writing file: VelmarTemp.txt" +
                         kPauseLine);
  // The partial file is of no use and goes.
  EXPECT_FALSE(dir.exists("VelmarTemp.txt"));
}

// A price history whose returns are many and differ: a table of some hundred rows and a
// picture.
std::string priceHistory() {
  std::string text = "close\n";
  double price = 100.0;
  std::uint32_t state = 12345;
  for (int t = 0; t <= 3000; ++t) {
    state = state * 1664525u + 1013904223u;
    price *= 1.0 + (static_cast<double>(state >> 8) / 16777216.0 - 0.5) * 0.004;
    text += std::to_string(price) + "\n";
  }
  return text;
}

TEST(WriteErrors, EmpricerDistOnAFullFileSystemLeavesNeitherOutput) {
  for (const bool tableOnFull : {true, false}) {
    TempDir dir;
    TempDir full;
    SmallFileSystem small(full, "16k");
    if (!small.mounted()) GTEST_SKIP() << small.skipMessage();
    small.fill("filler");
    dir.write("prices.csv", priceHistory());
    const std::string table = (tableOnFull ? full : dir).file("dist.csv");
    const std::string picture = (tableOnFull ? dir : full).file("picture.svg");
    const RunOutcome run = runDistIn(dir, {"--out", table, "--plot", picture, "prices.csv"});
    EXPECT_EQ(run.status, 1) << run.err;
    const std::string failed = tableOnFull ? table : picture;
    EXPECT_NE(run.err.find(failed + ": cannot write: No space left on device"), std::string::npos)
        << run.err;
    // Both or neither: no output, and no hidden file on its way to one.
    EXPECT_EQ(dir.names(), std::vector<std::string>{"prices.csv"}) << tableOnFull;
    EXPECT_EQ(full.names(), std::vector<std::string>{"filler"}) << tableOnFull;
  }
}

TEST(WriteErrors, TheTemporaryFileNeverFollowsALinkAndTheResultFileDoes) {
  const std::string batch = "S0,K,days\n100,95,2\n90,95,1\n";
  for (const bool probabilities : {false, true}) {
    const std::string setup =
        setupText({.runMode = "2", .trajectories = 20, .probabilities = probabilities});
    const std::string dist = "-0.01,1\n0,2\n0.01,1\n";
    TempDir reference;
    reference.write("Setup.txt", setup);
    reference.write("dist.csv", dist);
    reference.write("batch.csv", batch);
    const RunOutcome expected = runIn(reference, {.clock = kStillClock});
    ASSERT_EQ(expected.status, 0);

    // VelmarTemp.txt links to a file of the user's, then to a name that does not exist;
    // Batch_Result.csv links to a file elsewhere.
    for (const bool dangling : {false, true}) {
      TempDir dir;
      TempDir elsewhere;
      dir.write("Setup.txt", setup);
      dir.write("dist.csv", dist);
      dir.write("batch.csv", batch);
      elsewhere.write("precious.txt", "a user's own file\n");
      const std::string target = elsewhere.file(dangling ? "new.txt" : "precious.txt");
      fs::create_symlink(target, dir.file("VelmarTemp.txt"));
      fs::create_symlink(elsewhere.file("results.csv"), dir.file("Batch_Result.csv"));
      const RunOutcome run = runIn(dir, {.clock = kStillClock});

      EXPECT_EQ(elsewhere.read("precious.txt"), "a user's own file\n");
      EXPECT_EQ(elsewhere.exists("new.txt"), false);
      EXPECT_TRUE(fs::is_symlink(dir.file("VelmarTemp.txt")));
      if (probabilities) {
        // As a temporary file that cannot be created: the stop, before any row is written.
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, bannerText("0", 20) + "OUTPUTS: \nError opening file: VelmarTemp.txt" +
                               kPauseLine);
        EXPECT_EQ(elsewhere.read("results.csv"),
                  "S0,K,Call,Put,Stdev,Prob(WLC),Prob(WLP),ThetaC,ThetaP\n");
      } else {
        // Ignored, and the run is the run without the link.
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.out, expected.out);
        EXPECT_EQ(elsewhere.read("results.csv"), reference.read("Batch_Result.csv"));
      }
    }
  }
}

TEST(WriteErrors, AShardThatSelectsNoRowNamesTheBatchsRowsAndKeepsTheHeader) {
  struct Case {
    std::vector<std::string> arguments;
    std::string message;  // on standard error; empty: none
  };
  // Three data rows: an empty line does not count, a row skipped for its days does.
  const std::string batch = "S0,K,days\n100,95,1\n\n100,95,1e12\n90,95,1\n";
  const std::vector<Case> cases = {
      {{"--rows", "5-9"}, "empricer: --rows 5-9 selects no row: batch.csv has 3 data rows\n"},
      {{"--rows", "4-"}, "empricer: --rows 4- selects no row: batch.csv has 3 data rows\n"},
      {{"--rows", "4", "--chain"},
       "empricer: --rows 4 selects no row: batch.csv has 3 data rows\n"},
      {{"--rows", "3-9"}, ""},
      {{"--rows", "3-", "--chain"}, ""},
  };
  for (const Case& c : cases) {
    TempDir dir;
    dir.write("Setup.txt", setupText({.runMode = "2"}));
    dir.write("dist.csv", kFlatDistribution);
    dir.write("batch.csv", batch);
    std::vector<std::string> arguments = {"--seed", "11"};
    arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
    const RunOutcome run = runIn(dir, {.clock = kStillClock, .arguments = arguments});
    const std::string shard = c.arguments[1];
    EXPECT_EQ(run.status, 0) << shard;
    EXPECT_EQ(run.err, c.message) << shard;
    const std::vector<std::string> results = splitLines(dir.read("Batch_Result.csv"));
    ASSERT_FALSE(results.empty()) << shard;
    EXPECT_EQ(results[0], "S0,K,Call,Put,Stdev,ThetaC,ThetaP");
    EXPECT_EQ(results.size(), c.message.empty() ? 6u : 1u) << shard;
    if (!c.message.empty()) {
      EXPECT_EQ(run.out, kBanner + "OUTPUTS: \n\nTotal elapse time: 0 seconds.\n\n") << shard;
    }
  }
}

}  // namespace
