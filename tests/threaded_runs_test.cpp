// Whole runs on several threads: for every kernel and any --threads, standard output,
// Batch_Result.csv and the temporary file are the bytes of the one-at-a-time reference, the
// standard errors included.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "engine/simulation/lockstep_simulation.h"
#include "run_support.h"
#include "value_support.h"

using namespace empricer;

namespace {

struct Scenario {
  const char* what;
  SetupFile setup;
  std::string batch;  // empty for a manual run
  std::string input;
  double spread;      // of the distribution's returns
  std::vector<std::string> options = {};
};

struct Left {
  RunOutcome run;
  std::optional<std::string> results;
  std::optional<std::string> temporary;
};

Left runScenario(const Scenario& s, std::vector<std::string> arguments) {
  arguments.insert(arguments.end(), s.options.begin(), s.options.end());
  TempDir dir;
  dir.write("Setup.txt", setupText(s.setup));
  dir.write("dist.csv", bellDistribution(101, s.spread));
  if (!s.batch.empty()) dir.write("batch.csv", s.batch);
  Left left;
  left.run = runIn(dir, {.input = s.input, .clock = ReplayClock{1700000000, 1},
                         .arguments = arguments});
  left.results = readFile(dir.file("Batch_Result.csv"));
  left.temporary = readFile(dir.file("VelmarTemp.txt"));
  return left;
}

TEST(ThreadedRuns, SameBytesAsTheReferenceForEveryKernelAndThreadCount) {
  const std::vector<Scenario> scenarios = {
      {"batch, probabilities on, rows the band keeps hitting",
       {.runMode = "2", .trajectories = 7, .rate = "0.05", .probabilities = true},
       "S0,K,Days\n100,95,1\n100,105,2\n90,90,0\n100,100,3e9\n80,85,-1\n120,100,3\n", "", 0.05},
      {"batch, probabilities off, many trajectories",
       {.runMode = "2", .trajectories = 4097, .rate = "0.05"},
       "S0,K,Days\n100,100,1\n100,102,2\n", "", 0.004},
      {"batch with standard errors",
       {.runMode = "2", .trajectories = 301, .rate = "0.05", .probabilities = true},
       "S0,K,Days\n100,100,2\n95,100,1\n", "", 0.01, {"--std-errors"}},
      {"manual, probabilities on",
       {.runMode = "1", .trajectories = 33, .rate = "0.05", .probabilities = true}, "",
       "100\n98\n2\n", 0.01},
  };
  std::vector<std::string> kernels = {"scalar"};
  if (kernelAvailable(KernelKind::Avx2)) kernels.push_back("avx2");
  if (kernelAvailable(KernelKind::Avx512)) kernels.push_back("avx512");
  for (const Scenario& s : scenarios) {
    const Left want = runScenario(s, {"--kernel=reference", "--threads", "1"});
    ASSERT_EQ(want.run.status, 0) << s.what << "\n" << want.run.out << want.run.err;
    for (const std::string& kernel : kernels) {
      for (const char* threads : {"1", "2", "3", "8"}) {
        const Left got = runScenario(s, {"--kernel=" + kernel, "--threads", threads});
        const std::string where = std::string(s.what) + ", " + kernel + ", " + threads;
        EXPECT_EQ(got.run.status, 0) << where;
        EXPECT_EQ(got.run.out, want.run.out) << where;
        EXPECT_EQ(got.run.err, want.run.err) << where;
        EXPECT_EQ(got.results, want.results) << where;
        EXPECT_EQ(got.temporary, want.temporary) << where;
      }
    }
  }
}

}  // namespace
