// What goes wrong when nobody watches a run: a second run started in the same folder, a run
// stopped by a signal, input files saved with a byte-order mark, and rows that take more
// draws than the generator's cycle. Each test fails on a program without the mend it covers.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <string>
#include <thread>

#include "runs/stop_signals.h"
#include "run_support.h"
#include "value_support.h"

namespace {

using namespace std::chrono_literals;

// A batch run holds its folder from its start: it waits here for the rows of batch.csv, a
// pipe, while a second run is started in the same folder. The second stops at once, with status 1 and a
// message naming the folder, and touches no file; the first then ends as a run alone does.
TEST(UnattendedRuns, ASecondRunInTheFolderStopsWithoutTouchingAFile) {
  const SetupFile setup{.runMode = "2", .trajectories = 50, .probabilities = true};
  const std::string rows = "S0,K,Days\n100,95,3\n100,105,2\n";
  TempDir alone;
  writeBellInputs(alone, setup, rows);
  const RunOutcome single = runIn(alone, {.clock = kStillClock, .arguments = {"--seed", "9"}});
  ASSERT_EQ(single.status, 0) << single.err;

  TempDir dir;
  writeBellInputs(dir, setup, "");
  std::remove(dir.file("batch.csv").c_str());
  ASSERT_EQ(::mkfifo(dir.file("batch.csv").c_str(), 0600), 0);
  StartedRun first(dir, {.clock = kStillClock, .arguments = {"--seed", "9"}});
  // The pipe opens for writing once the first run reads it: it holds the lock by then.
  int pipe = -1;
  ASSERT_TRUE(waitFor([&] {
    pipe = ::open(dir.file("batch.csv").c_str(), O_WRONLY | O_NONBLOCK);
    return pipe >= 0;
  }));

  // The first run has made Batch_Result.csv and waits for rows: the folder as it is now.
  ASSERT_TRUE(waitFor([&] { return dir.read("Batch_Result.csv").size() > 30; }));
  const std::string results = dir.read("Batch_Result.csv");
  const std::vector<std::string> names = dir.names();
  struct stat before {};
  ASSERT_EQ(::stat(dir.file("Batch_Result.csv").c_str(), &before), 0);

  StartedRun second(dir, {.clock = kStillClock, .arguments = {"--seed", "9"}});
  ASSERT_TRUE(waitFor([&] { return second.ended(); })) << "the second run waits";
  const RunOutcome lost = second.wait();
  EXPECT_EQ(lost.status, 1);
  EXPECT_EQ(lost.out, "");
  EXPECT_NE(lost.err.find("another run is working in the folder " + dir.path()),
            std::string::npos)
      << lost.err;
  struct stat after {};
  ASSERT_EQ(::stat(dir.file("Batch_Result.csv").c_str(), &after), 0);
  EXPECT_EQ(dir.read("Batch_Result.csv"), results);
  EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
  EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
  EXPECT_EQ(dir.names(), names);

  ASSERT_EQ(::write(pipe, rows.data(), rows.size()), static_cast<ssize_t>(rows.size()));
  ::close(pipe);
  const RunOutcome won = first.wait();
  EXPECT_EQ(won.status, 0) << won.err;
  EXPECT_EQ(won.out, single.out);
  EXPECT_EQ(dir.read("Batch_Result.csv"), alone.read("Batch_Result.csv"));
  EXPECT_FALSE(dir.exists("VelmarTemp.txt"));
}

// SIGTERM while a row is valued, its terminal prices going to the temporary file (or, with the
// probabilities off, the file left empty): the file goes, the rows written before stay whole,
// and the program ends as the signal ends it.
TEST(UnattendedRuns, ASignalRemovesTheTemporaryFileAndKeepsTheWholeRows) {
  for (bool probabilities : {true, false}) {
    TempDir dir;
    writeBellInputs(dir, {.runMode = "2", .trajectories = 200000, .probabilities = probabilities},
                "S0,K,Days\n100,100,1\n100,100,60\n");
    StartedRun run(dir, {.clock = kStillClock, .arguments = {"--seed", "5"}});
    // The first row is written (a header and five lines) and the second one's file is made.
    ASSERT_TRUE(waitFor([&] {
      return splitLines(dir.read("Batch_Result.csv")).size() == 6 && dir.exists("VelmarTemp.txt");
    }));
    run.sendSignal(SIGTERM);
    const RunOutcome stopped = run.wait();
    EXPECT_EQ(stopped.signal, SIGTERM) << probabilities;
    EXPECT_FALSE(dir.exists("VelmarTemp.txt")) << probabilities;
    EXPECT_EQ(splitLines(dir.read("Batch_Result.csv")).size(), 6u);
    EXPECT_EQ(dir.read("Batch_Result.csv").back(), '\n');
  }
}

// A signal that comes after the temporary file is made and before the run has noted it (the
// window the test above can hit on a busy machine) is held until the file is noted, and then
// removes it.
TEST(UnattendedRuns, ASignalWhileTheTemporaryFileOpensWaitsForItAndRemovesIt) {
  TempDir dir;
  const std::string path = dir.file("VelmarTemp.txt");
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    empricer::watchStopSignals(path.c_str());
    empricer::openingTemporaryFile();
    std::FILE* stream = std::fopen(path.c_str(), "w");
    ::raise(SIGTERM);
    empricer::noteTemporaryFile(stream);
    ::_exit(3);  // reached only if the held signal was lost
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status)) << "exit status " << WEXITSTATUS(status);
  EXPECT_EQ(WTERMSIG(status), SIGTERM);
  EXPECT_FALSE(dir.exists("VelmarTemp.txt"));
}

// Setup.txt, dist.csv and batch.csv saved with a UTF-8 byte-order mark read as without it.
TEST(UnattendedRuns, AByteOrderMarkAtTheStartIsNoData) {
  const std::string mark = "\xEF\xBB\xBF";
  const std::string batch = "S0,K,Days\n100,95,3\n";
  const SetupFile setup{.runMode = "2", .trajectories = 20, .probabilities = true};
  TempDir plain, marked;
  writeBellInputs(plain, setup, batch);
  marked.write("Setup.txt", mark + setupText(setup));
  marked.write("dist.csv", mark + bellDistribution(41, 0.004));
  marked.write("batch.csv", mark + batch);
  const RunOutcome want = runIn(plain, {.clock = kStillClock, .arguments = {"--seed", "3"}});
  const RunOutcome got = runIn(marked, {.clock = kStillClock, .arguments = {"--seed", "3"}});
  ASSERT_EQ(want.status, 0) << want.err;
  EXPECT_EQ(got.status, 0) << got.err;
  EXPECT_EQ(got.out, want.out);
  EXPECT_EQ(marked.read("Batch_Result.csv"), plain.read("Batch_Result.csv"));
  const RunOutcome checked = runIn(marked, {.arguments = {"--check"}});
  EXPECT_EQ(checked.status, 0) << checked.out;
}

// The outputs repeat every 2^31 draws: seeds 2^31 apart give the same bytes. A row past the
// cycle is told once on standard error and found by --check, and the results file gains the
// column cycle_repeats, 0 for the rows before it.
TEST(UnattendedRuns, RowsPastTheGeneratorsCycleAreTold) {
  TempDir dir;
  writeBellInputs(dir, {.runMode = "2", .trajectories = 9000},
              "S0,K,Days\n100,95,1\n100,95,1000\n100,95,1000\n");
  // 9000 x 270 x 1000 draws wrap the cycle of 2^31 once: it holds 7953 such trajectories.
  const RunOutcome checked = runIn(dir, {.arguments = {"--check"}});
  EXPECT_EQ(checked.status, 1);
  EXPECT_NE(checked.out.find("batch.csv:3: reads S0 100, K 95, days 1000: it takes 2430000000 "
                             "draws"),
            std::string::npos)
      << checked.out;
  EXPECT_NE(checked.out.find("the cycle holds 7953 trajectories of 1000 days"), std::string::npos);

  StartedRun run(dir, {.clock = kStillClock, .arguments = {"--seed", "1", "--results", "r.csv"}});
  ASSERT_TRUE(waitFor([&] { return run.errorSoFar().find("warning") != std::string::npos; }));
  run.kill();
  run.wait();
  const std::vector<std::string> results = splitLines(dir.read("r.csv"));
  ASSERT_EQ(results.size(), 6u);
  EXPECT_EQ(results[0].substr(results[0].size() - 14), ",cycle_repeats");
  for (std::size_t i = 1; i < results.size(); ++i) EXPECT_EQ(results[i].back(), '0');
  const std::string err = run.errorSoFar();
  EXPECT_EQ(err.find("empricer: warning: row 2: it takes 2430000000 draws"), 0u) << err;
  EXPECT_EQ(err.find("warning", 20), std::string::npos) << "one warning a run";

  TempDir small;
  writeBellInputs(small, {.runMode = "2", .trajectories = 30}, "S0,K,Days\n100,95,2\n");
  const RunOutcome low = runIn(small, {.clock = kStillClock, .arguments = {"--seed", "12345"}});
  const std::string lowResults = small.read("Batch_Result.csv");
  const RunOutcome high =
      runIn(small, {.clock = kStillClock, .arguments = {"--seed", "2147495993"}});
  EXPECT_EQ(low.out, high.out);
  EXPECT_EQ(small.read("Batch_Result.csv"), lowResults);
}

}  // namespace
