// Every failure with its kind as well as its message: the families of stop messages, the files
// that a run writes (rows, results, picture) and reads (quotes), the folder's lock, and a
// build of empricer-dist, whose kind decides its exit status and the Python module's exception.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cerrno>
#include <string>
#include <vector>

#include "runs/folder_lock.h"
#include "engine/quotes/quote_book.h"
#include "runs/results_file.h"
#include "runs/smile_plot.h"
#include "builder/dist_build.h"
#include "builder/dist_options.h"
#include "run_support.h"
#include "text/output_file.h"
#include "text/status.h"

using namespace empricer;

namespace {

const std::string kFullDevice = "/dev/full";

bool haveFullDevice() {
  struct stat status;
  return ::lstat(kFullDevice.c_str(), &status) == 0 && S_ISCHR(status.st_mode);
}

void expectFailure(const Status& got, const std::string& message, FailureKind kind) {
  EXPECT_FALSE(got.ok()) << message;
  EXPECT_EQ(got.message(), message);
  EXPECT_EQ(static_cast<int>(got.kind()), static_cast<int>(kind)) << message;
}

}  // namespace

TEST(FailureKinds, EachFamilyOfMessagesHasItsKind) {
  struct Case {
    Failure got;
    const char* message;
    FailureKind kind;
  };
  const Case cases[] = {
      {openFailure("dist.csv"), "Error opening file: dist.csv", FailureKind::cannotOpen},
      {readFailure("q.csv"), "Error reading file: q.csv", FailureKind::cannotRead},
      {readFailure("q.csv", "no header line"), "Error reading file: q.csv: no header line",
       FailureKind::cannotRead},
      {writeFailure("Batch_Result.csv"), "Error writing file: Batch_Result.csv",
       FailureKind::cannotWrite},
      {standardOutputFailure(ENOSPC), "empricer: standard output: No space left on device",
       FailureKind::cannotWrite},
      {contentFailure("dist.csv", "no data rows"), "Error in dist.csv: no data rows",
       FailureKind::badInput},
  };
  for (const Case& c : cases) expectFailure(c.got, c.message, c.kind);
  EXPECT_EQ(writeFailureText("VelmarTemp.txt"), writeFailure("VelmarTemp.txt").message);
}

TEST(FailureKinds, AFailureHandedOnKeepsItsMessageAndKind) {
  const Status status = openFailure("dist.csv");
  expectFailure(failureOf(status), "Error opening file: dist.csv", FailureKind::cannotOpen);
  const Outcome<int> outcome = readFailure("q.csv", "no header line");
  const Outcome<std::string> handedOn = failureOf(outcome);
  EXPECT_FALSE(handedOn.ok());
  EXPECT_EQ(handedOn.message(), "Error reading file: q.csv: no header line");
  EXPECT_EQ(static_cast<int>(handedOn.kind()), static_cast<int>(FailureKind::cannotRead));
}

TEST(FailureKinds, ARowFileFailsWithItsNameAndKeepsFailing) {
  TempDir dir;
  RowFile folder;
  expectFailure(folder.create(dir.path().c_str()), "Error opening file: " + dir.path(),
                FailureKind::cannotOpen);
  expectFailure(folder.writeRow("1\n"), "Error writing file: " + dir.path(),
                FailureKind::cannotWrite);

  RowFile rows;
  ASSERT_TRUE(rows.create(dir.file("rows.csv").c_str()).ok());
  EXPECT_TRUE(rows.writeRow("a\n").ok());
  EXPECT_TRUE(rows.writeRow("b\nc\n").ok());
  EXPECT_TRUE(rows.close().ok());
  EXPECT_EQ(dir.read("rows.csv"), "a\nb\nc\n");

  if (!haveFullDevice()) GTEST_SKIP() << "no " << kFullDevice;
  RowFile full;
  ASSERT_TRUE(full.create(kFullDevice.c_str()).ok());
  // The first failure, every later write (an empty one too), and the close.
  for (const std::string row : {"1,2\n", ""}) {
    expectFailure(full.writeRow(row), "Error writing file: /dev/full", FailureKind::cannotWrite);
  }
  expectFailure(full.close(), "Error writing file: /dev/full", FailureKind::cannotWrite);
}

TEST(FailureKinds, TheResultsFileAndThePictureCannotBeOpenedOrWritten) {
  TempDir dir;
  ResultsFile results;
  expectFailure(results.open(dir.path()), "Error opening file: " + dir.path(),
                FailureKind::cannotOpen);
  const SmilePlot plot;
  expectFailure(plot.write(dir.path(), 1000, 2), "Error opening file: " + dir.path(),
                FailureKind::cannotOpen);

  if (!haveFullDevice()) GTEST_SKIP() << "no " << kFullDevice;
  ResultsFile full;
  expectFailure(full.open(kFullDevice), "Error writing file: /dev/full", FailureKind::cannotWrite);
  expectFailure(plot.write(kFullDevice, 1000, 2), "Error writing file: /dev/full",
                FailureKind::cannotWrite);
}

TEST(FailureKinds, AQuoteFileCannotBeOpenedOrRead) {
  TempDir dir;
  dir.write("q.csv", "S0,K,days,call\n100,95,3,7.5\n100,x,3,1\n");
  dir.write("bare.csv", "\n\n");
  struct Case {
    std::string path;
    std::string message;
    FailureKind kind;
  };
  const Case cases[] = {
      {dir.file("none.csv"), "Error opening file: " + dir.file("none.csv"),
       FailureKind::cannotOpen},
      // A folder opens, and its reading fails.
      {dir.path(), "Error reading file: " + dir.path(), FailureKind::cannotRead},
      {dir.file("q.csv"),
       "Error reading file: " + dir.file("q.csv") + ": line 3: 'x' is not a number",
       FailureKind::cannotRead},
      {dir.file("bare.csv"), "Error reading file: " + dir.file("bare.csv") + ": no header line",
       FailureKind::cannotRead},
  };
  for (const Case& c : cases) {
    QuoteBook quotes;
    expectFailure(quotes.load(c.path), c.message, c.kind);
  }
}

TEST(FailureKinds, AFolderHeldByAnotherRunCannotBeTaken) {
  TempDir dir;
  ScopedWorkingDirectory inside(dir);
  FolderLock first;
  ASSERT_TRUE(first.acquire().ok());
  FolderLock second;
  const Status taken = second.acquire();
  if (taken.ok()) GTEST_SKIP() << "this file system keeps no locks";
  EXPECT_EQ(taken.message().rfind("empricer: another run is working in the folder ", 0), 0u);
  EXPECT_EQ(static_cast<int>(taken.kind()), static_cast<int>(FailureKind::cannotOpen));
}

// Input that cannot be used (badInput: status 2, ValueError), whatever kept it from being read,
// and an output that cannot be made (cannotOpen: status 1, OSError).
TEST(FailureKinds, ABuildFailsAsUnusableInputOrAsAnOutputThatCannotBeMade) {
  TempDir dir;
  std::string prices = "date,close\n";
  for (int i = 0; i < 40; ++i) prices += "2025-03-03," + std::to_string(100 + i % 7) + "\n";
  dir.write("prices.csv", prices);
  dir.write("taken.csv", "");
  const std::string out = dir.file("dist.csv");
  struct Case {
    std::vector<std::string> arguments;
    std::string message;
    FailureKind kind;
  };
  const Case cases[] = {
      {{"--out", dir.file("taken.csv"), dir.file("prices.csv")},
       dir.file("taken.csv") + ": exists; use --force to overwrite it", FailureKind::badInput},
      {{"--out", out, dir.file("none.csv")}, dir.file("none.csv") + ": cannot open: no such file",
       FailureKind::badInput},
      {{"--out", out, "--mean", "risk-neutral", "--setup", dir.file("none.txt"),
        dir.file("prices.csv")},
       dir.file("none.txt") + ": cannot open: no such file", FailureKind::badInput},
      {{"--out", dir.file("no/dist.csv"), dir.file("prices.csv")},
       dir.file("no/dist.csv") + ": cannot create: No such file or directory",
       FailureKind::cannotOpen},
  };
  for (const Case& c : cases) {
    const Outcome<DistOptions> options = parseDistOptions(c.arguments);
    ASSERT_TRUE(options.ok()) << options.message();
    expectFailure(buildDistribution(options.value()).status(), c.message, c.kind);
  }
  EXPECT_FALSE(dir.exists("dist.csv"));
}
