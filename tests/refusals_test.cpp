// Outputs that would destroy inputs, and a results file that two runs would write at once: each
// is refused before any file is made or emptied, and every input stays as it was.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "run_support.h"
#include "value_support.h"

namespace {

using namespace std::chrono_literals;

// Every entry under the folder, with the bytes of each file (through links); "(folder)" for
// a folder.
std::map<std::string, std::string> contentsOf(const TempDir& dir) {
  std::map<std::string, std::string> contents;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(dir.path())) {
    const std::string name = std::filesystem::relative(entry.path(), dir.path()).string();
    contents[name] = entry.is_directory() ? "(folder)" : readFile(entry.path()).value_or("?");
  }
  return contents;
}

// A price history for empricer-dist; the refusals come before it is read.
const std::string kPrices = "date,close\n1,100\n2,101\n3,100.5\n4,102\n";

struct Refusal {
  const char* what;
  std::vector<std::string> arguments;  // "{dir}/" stands for the folder's absolute path
  std::string message;                 // on standard error
  std::string runMode = "2";           // empty: asked, and answered by `input`
  std::string input{};
  bool dist = false;                   // empricer-dist instead of empricer
};

// The folder every case starts from: the run's inputs, a folder, a symbolic and a hard link.
void writeInputs(const TempDir& dir, const std::string& runMode) {
  dir.write("Setup.txt", setupText({.runMode = runMode, .trajectories = 20, .rate = "0.01"}));
  dir.write("dist.csv", bellDistribution(41, 0.004));
  dir.write("batch.csv", "S0,K,Days\n100,100,2\n");
  dir.write("quotes.csv", "S0,K,days,call\n100,100,2,0.5\n");
  dir.write("Batch_Result.csv", "S0,K,days,put\n100,100,2,0.4\n");
  dir.write("prices.csv", kPrices);
  std::filesystem::create_directory(dir.file("sub"));
  std::filesystem::create_symlink("batch.csv", dir.file("linked.csv"));
  std::filesystem::create_hard_link(dir.file("quotes.csv"), dir.file("hard.csv"));
  std::filesystem::create_symlink("prices.csv", dir.file("prices-link.csv"));
}

std::vector<std::string> withFolder(const std::vector<std::string>& arguments,
                                    const TempDir& dir) {
  std::vector<std::string> out;
  for (std::string argument : arguments) {
    if (argument.rfind("{dir}/", 0) == 0) argument = dir.path() + argument.substr(5);
    out.push_back(argument);
  }
  return out;
}

TEST(Refusals, NoOutputIsWrittenOverAnInputOrAnotherOutput) {
  const std::string input = "; an output never overwrites an input";
  const std::string output = "; two outputs never write one file";
  const Refusal cases[] = {
      {"results over the quotes",
       {"--exact", "--results", "quotes.csv", "--quotes", "quotes.csv"},
       "empricer: --results quotes.csv is the quotes file (--quotes)" + input},
      {"picture over the quotes, named otherwise",
       {"--plot", "quotes.csv", "--quotes", "./quotes.csv"},
       "empricer: --plot quotes.csv is the quotes file (--quotes)" + input},
      {"results over the batch",
       {"--results", "batch.csv"},
       "empricer: --results batch.csv is the batch file batch.csv" + input},
      {"results over the settings, absolute",
       {"--results", "{dir}/Setup.txt"},
       "is the settings file Setup.txt" + input},
      {"picture over the table, through a folder",
       {"--plot", "sub/../dist.csv"},
       "empricer: --plot sub/../dist.csv is the return table dist.csv" + input},
      {"results through a symbolic link to the batch",
       {"--results", "linked.csv"},
       "empricer: --results linked.csv is the batch file batch.csv" + input},
      {"results on a hard link of the quotes",
       {"--results", "hard.csv", "--quotes", "quotes.csv"},
       "empricer: --results hard.csv is the quotes file (--quotes)" + input},
      {"a manual run's results over the settings",
       {"--results", "Setup.txt"},
       "empricer: --results Setup.txt is the settings file Setup.txt" + input,
       "1"},
      {"results and picture one new file",
       {"--results", "r.csv", "--plot", "./r.csv"},
       "empricer: --plot ./r.csv is --results r.csv" + output},
      {"results on the batch run's result file",
       {"--results", "Batch_Result.csv"},
       "empricer: --results Batch_Result.csv is the batch run's Batch_Result.csv" + output},
      {"results on the scratch file",
       {"--exact", "--results", "VelmarTemp.txt"},
       "empricer: --results VelmarTemp.txt is the scratch file VelmarTemp.txt" + output},
      {"a batch run, asked for, over the quotes",
       {"--results", "r.csv", "--quotes", "Batch_Result.csv"},
       "empricer: the batch run's Batch_Result.csv is the quotes file (--quotes)" + input,
       "",
       "2\n"},
      {"table over the prices",
       {"--force", "--out", "prices.csv", "prices.csv"},
       "empricer-dist: --out prices.csv is the price history prices.csv" + input,
       "2", "", true},
      {"table through a link to the prices",
       {"--force", "--out", "prices-link.csv", "prices.csv"},
       "empricer-dist: --out prices-link.csv is the price history prices.csv" + input,
       "2", "", true},
      {"picture over the prices",
       {"--force", "--plot", "{dir}/prices.csv", "prices.csv"},
       "is the price history prices.csv" + input,
       "2", "", true},
      {"table over the settings it reads",
       {"--mean", "risk-neutral", "--force", "--out", "Setup.txt", "prices.csv"},
       "empricer-dist: --out Setup.txt is the settings file Setup.txt" + input,
       "2", "", true},
      {"table and picture one new file",
       {"--out", "t.csv", "--plot", "sub/../t.csv", "prices.csv"},
       "empricer-dist: --plot sub/../t.csv is --out t.csv" + output,
       "2", "", true},
  };
  for (const Refusal& refusal : cases) {
    SCOPED_TRACE(refusal.what);
    TempDir dir;
    writeInputs(dir, refusal.runMode);
    const std::map<std::string, std::string> before = contentsOf(dir);
    const std::vector<std::string> arguments = withFolder(refusal.arguments, dir);
    const RunOutcome run =
        refusal.dist ? runDistIn(dir, arguments)
                     : runIn(dir, {.input = refusal.input, .arguments = arguments});
    EXPECT_EQ(run.status, 2) << run.err;
    EXPECT_NE(run.err.find(refusal.message + "\n"), std::string::npos) << run.err;
    EXPECT_EQ(contentsOf(dir), before);
  }
}

// The same names where no output meets an input: a manual run writes no Batch_Result.csv, a
// device holds nothing to overwrite, and empricer-dist reads no settings file for the data's
// mean.
TEST(Refusals, OutputsOfTheirOwnAreWritten) {
  const std::pair<std::string, std::vector<std::string>> cases[] = {
      {"1", {"--exact", "--results", "Batch_Result.csv"}},
      {"2", {"--exact", "--results", "/dev/null", "--plot", "/dev/null"}},
      {"2", {"--exact", "--results", "sub/r.csv", "--plot", "r.csv"}},
  };
  for (const auto& [runMode, arguments] : cases) {
    SCOPED_TRACE(arguments[2]);
    TempDir dir;
    writeInputs(dir, runMode);
    const RunOutcome run = runIn(dir, {.input = "100\n100\n2\n", .arguments = arguments});
    EXPECT_EQ(run.status, 0) << run.err;
  }
  TempDir dir;
  writeInputs(dir, "2");
  std::string prices;
  double price = 100.0;
  for (int i = 0; i < 800; ++i) {
    price *= i % 3 == 0 ? 1.002 : (i % 3 == 1 ? 0.999 : 1.0005);
    prices += std::to_string(i) + "," + std::to_string(price) + "\n";
  }
  dir.write("prices.csv", "date,close\n" + prices);
  const RunOutcome built = runDistIn(dir, {"--force", "--out", "Setup.txt", "prices.csv"});
  EXPECT_EQ(built.status, 0) << built.err;
}

// Two runs in two folders naming one results file and one picture: the first holds them from
// before it empties them; while it waits for the rows of its batch.csv (a pipe), a second run
// naming either stops with status 1 and a message naming the file, touching nothing. The
// first then writes what a run alone writes.
TEST(Refusals, ASecondRunOnTheSameResultsFileStopsWithoutTouchingIt) {
  const SetupFile setup{.runMode = "2", .trajectories = 50, .probabilities = true};
  const std::string rows = "S0,K,Days\n100,95,3\n100,105,2\n";
  TempDir alone;
  writeBellInputs(alone, setup, rows);
  const RunOutcome single =
      runIn(alone, {.clock = kStillClock,
                    .arguments = {"--seed", "9", "--results", alone.file("r.csv"), "--plot",
                                  alone.file("p.svg")}});
  ASSERT_EQ(single.status, 0) << single.err;

  TempDir shared;
  const std::string results = shared.file("r.csv");
  const std::string picture = shared.file("p.svg");
  TempDir dir;
  writeBellInputs(dir, setup, "");
  std::remove(dir.file("batch.csv").c_str());
  ASSERT_EQ(::mkfifo(dir.file("batch.csv").c_str(), 0600), 0);
  StartedRun first(dir, {.clock = kStillClock,
                         .arguments = {"--seed", "9", "--results", results, "--plot", picture}});
  // The pipe opens for writing once the first run reads it; its results file has its header.
  int pipe = -1;
  ASSERT_TRUE(waitFor([&] {
    pipe = ::open(dir.file("batch.csv").c_str(), O_WRONLY | O_NONBLOCK);
    return pipe >= 0;
  }));
  ASSERT_TRUE(waitFor([&] { return shared.read("r.csv").size() > 30; }));
  const std::map<std::string, std::string> held = contentsOf(shared);
  struct stat before {};
  ASSERT_EQ(::stat(results.c_str(), &before), 0);

  for (const auto& [option, file] : {std::pair{"--results", results}, {"--plot", picture}}) {
    SCOPED_TRACE(option);
    TempDir other;
    writeBellInputs(other, setup, rows);
    const std::map<std::string, std::string> inputs = contentsOf(other);
    const RunOutcome lost =
        runIn(other, {.clock = kStillClock, .arguments = {"--seed", "9", option, file}});
    EXPECT_EQ(lost.status, 1);
    EXPECT_NE(lost.err.find("empricer: another run is writing " + file + " (" + option +
                            ") and holds its lock; this run stops without touching any file\n"),
              std::string::npos)
        << lost.err;
    EXPECT_EQ(contentsOf(other), inputs);
    EXPECT_EQ(contentsOf(shared), held);
  }
  struct stat after {};
  ASSERT_EQ(::stat(results.c_str(), &after), 0);
  EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
  EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);

  ASSERT_EQ(::write(pipe, rows.data(), rows.size()), static_cast<ssize_t>(rows.size()));
  ::close(pipe);
  const RunOutcome won = first.wait();
  EXPECT_EQ(won.status, 0) << won.err;
  EXPECT_EQ(won.out, single.out);
  EXPECT_EQ(shared.read("r.csv"), alone.read("r.csv"));
  EXPECT_EQ(shared.read("p.svg"), alone.read("p.svg"));
  EXPECT_EQ(dir.read("Batch_Result.csv"), alone.read("Batch_Result.csv"));
}

}  // namespace
