// Valuations on worker threads: for any number of threads and every kernel, the results, the
// temporary file and the generator state are the bytes of the one-at-a-time reference, also
// when valuations are queued ahead and the distribution changes or vanishes between them.
// Also the worker pool on its own, and the bounds under which the kernels skip band tests.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "runs/file_names.h"
#include "runs/settings.h"
#include "engine/simulation/lockstep_simulation.h"
#include "engine/table/random_jump.h"
#include "engine/simulation/valuation_queue.h"
#include "tests/support/value_option.h"
#include "engine/simulation/worker_pool.h"
#include "run_support.h"
#include "value_support.h"

using namespace empricer;

namespace {

// ---------------------------------------------------------------------------------------------
// The worker pool

TEST(WorkerPool, EveryTaskRunsOnceWhateverTheNumberOfThreads) {
  for (int threads : {1, 2, 3, 8}) {
    std::vector<std::atomic<int>> runs(200);
    std::vector<std::unique_ptr<PoolTask>> tasks;
    WorkerPool pool(threads);
    EXPECT_EQ(pool.threadCount(), threads);
    for (std::size_t i = 0; i < runs.size(); ++i) {
      tasks.push_back(std::make_unique<PoolTask>([&runs, i] { runs[i].fetch_add(1); }));
      pool.submit(*tasks.back());
    }
    // Waited for in reverse: the caller runs what no worker has taken.
    for (auto it = tasks.rbegin(); it != tasks.rend(); ++it) pool.wait(**it);
    for (std::size_t i = 0; i < runs.size(); ++i) EXPECT_EQ(runs[i].load(), 1) << threads << ' ' << i;
  }
}

TEST(WorkerPool, OneThreadRunsEverythingInTheCaller) {
  WorkerPool pool(1);
  std::thread::id ranOn;
  PoolTask task([&] { ranOn = std::this_thread::get_id(); });
  pool.submit(task);
  pool.wait(task);
  EXPECT_EQ(ranOn, std::this_thread::get_id());
}

TEST(WorkerPool, WithdrawnAndDroppedTasksNeverRun) {
  std::atomic<int> runs{0};
  PoolTask withdrawn([&] { runs.fetch_add(1); });
  PoolTask dropped([&] { runs.fetch_add(1); });
  {
    WorkerPool pool(1);  // no worker: nothing runs unless waited for
    pool.submit(withdrawn);
    pool.submit(dropped);
    pool.withdraw(withdrawn);
    pool.wait(withdrawn);  // a withdrawn task is not run by waiting either
  }
  EXPECT_EQ(runs.load(), 0);
}

// ---------------------------------------------------------------------------------------------
// Valuations against the reference

struct Valued {
  ValuationResult result;
  std::string temporary;  // the temporary file's lines, as the queue hands them over
  std::string prices;  // the bytes of every price kept, in order
};

const ValuationFiles kFiles{kDistributionFileName, kTemporaryFileName};

// A single valuation handed to the queue as the runs hand it.
GroupPlan enqueueSingle(ValuationQueue& queue, const ValuationRequest& request,
                        RandomGenerator& generator,
                        std::size_t keptReadBackBytes = kKeptReadBackBytes) {
  GroupPlan plan = planSingle(request, kTemporaryFileName, keptReadBackBytes);
  enqueueGroup(queue, plan, generator);
  return plan;
}

Status completeSingle(ValuationQueue& queue, DistributionCache& distribution,
                      const GroupPlan& plan, ValuationResult& result) {
  std::vector<RowFigures> values;
  const Status status = completeGroup(queue, distribution, kDistributionFileName, plan, {}, values);
  if (status.ok()) result = values.front().result;
  return status;
}

// Keeps what the queue hands over of one valuation.
std::function<void(const TrajectoryPrices&)> keepPrices(Valued& v, std::int32_t days) {
  return [&v, days](const TrajectoryPrices& prices) {
    EXPECT_EQ(prices.keptDays, days >= 2 ? 2u : 1u);
    v.temporary.append(prices.rows);
    v.prices.append(reinterpret_cast<const char*>(prices.prices),
                    static_cast<std::size_t>(prices.count) * prices.keptDays * kPathCount *
                        sizeof(double));
  };
}

// Values `requests` in order on one queue, all handed in before the first completes, from
// generator state `state`; then again, keeping the prices the queue hands over.
std::vector<Valued> valueAll(const std::vector<ValuationRequest>& requests, std::uint32_t state,
                             int threads, SimulationChoice choice) {
  std::vector<Valued> out(requests.size());
  ValuationQueue queue(threads, choice);
  DistributionCache distribution;
  for (int pass = 0; pass < 2; ++pass) {
    RandomGenerator generator{state};
    std::vector<GroupPlan> plans;
    for (const ValuationRequest& r : requests) plans.push_back(enqueueSingle(queue, r, generator));
    EXPECT_EQ(generator.state,
              applyJump(randomJump([&] {
                          std::uint64_t draws = 0;
                          for (const ValuationRequest& r : requests) draws += drawsOfValuation(r);
                          return draws;
                        }()),
                        state));
    for (std::size_t i = 0; i < requests.size(); ++i) {
      Valued& v = out[i];
      if (pass == 0) {
        std::memset(&v.result, 0x5a, sizeof v.result);  // what is left must not matter
        EXPECT_TRUE(completeSingle(queue, distribution, plans[i], v.result).ok());
        EXPECT_FALSE(std::filesystem::exists(kTemporaryFileName) && requests[i].withProbabilities);
      } else {
        queue.completeNext(distribution, keepPrices(v, requests[i].days));
      }
    }
  }
  return out;
}

void expectSame(const std::vector<Valued>& want, const std::vector<Valued>& got,
                const std::string& what) {
  ASSERT_EQ(want.size(), got.size()) << what;
  for (std::size_t i = 0; i < want.size(); ++i) {
    EXPECT_EQ(std::memcmp(&want[i].result, &got[i].result, sizeof(ValuationResult)), 0)
        << what << ", valuation " << i << ": call " << want[i].result.callValue << " vs "
        << got[i].result.callValue;
    EXPECT_EQ(want[i].temporary, got[i].temporary) << what << ", valuation " << i;
    EXPECT_TRUE(want[i].prices == got[i].prices) << what << ", valuation " << i << ": prices";
  }
}

std::vector<KernelKind> availablePaths() {
  std::vector<KernelKind> paths;
  for (KernelKind p : {KernelKind::Scalar, KernelKind::Avx2, KernelKind::Avx512}) {
    if (kernelAvailable(p)) paths.push_back(p);
  }
  return paths;
}

class QueueTest : public ::testing::Test {
 protected:
  TempDir dir;
  ScopedWorkingDirectory inDir{dir};
};

// Odd trajectory counts around the lane widths and the chunk size, 0 to 3 days, probabilities
// on and off, a gentle distribution and one whose returns keep hitting the band.
TEST_F(QueueTest, SameBytesAsTheReferenceForAnyThreadsAndKernel) {
  for (const double spread : {0.004, 0.06}) {
    dir.write(kDistributionFileName, bellDistribution(201, spread));
    std::vector<ValuationRequest> requests;
    for (std::int32_t n : {1, 7, 33, 4097}) {
      for (std::int32_t days : {1, 2}) {
        requests.push_back(requestOf(100.0, 100.0, days, n, 0.05, (n + days) % 2 == 0));
      }
    }
    requests.push_back(requestOf(100.0, 101.0, 0, 5, 0.05, true));
    requests.push_back(requestOf(100.0, 100.0, 2, 0, 0.05, true));
    requests.push_back(requestOf(100.0, 90.0, 3, 1500, 0.05, true));
    const std::vector<Valued> want =
        valueAll(requests, 987654321u, 1, {.kernel = KernelKind::Reference});
    for (KernelKind path : availablePaths()) {
      for (int threads : {1, 2, 3, 8}) {
        expectSame(want, valueAll(requests, 987654321u, threads, {.kernel = path}),
                   std::string(kernelName(path)) + ", " + std::to_string(threads) +
                       " threads, spread " + std::to_string(spread));
      }
    }
  }
}

// A valuation whose read-back prices are too many to keep runs its trajectories again for the
// probabilities, ahead of the valuations queued after it: the same results and temporary file.
TEST_F(QueueTest, ProbabilitiesFromASecondRunMatchTheKeptPrices) {
  dir.write(kDistributionFileName, bellDistribution(101, 0.01));
  std::vector<ValuationRequest> requests;
  for (std::int32_t days : {2, 1, 3, 0, 2}) {
    requests.push_back(requestOf(100.0, 99.0 + days, days, 777, 0.05, days != 1));
  }
  std::vector<std::string> results[2];
  for (std::size_t limit : {kKeptReadBackBytes, std::size_t{0}}) {
    ValuationQueue queue(3, {});
    DistributionCache distribution;
    RandomGenerator generator{2024u};
    std::vector<GroupPlan> plans;
    for (const ValuationRequest& r : requests) {
      plans.push_back(enqueueSingle(queue, r, generator, limit));
      EXPECT_EQ(plans.back().keepReadBack, limit != 0 && r.withProbabilities);
    }
    for (const GroupPlan& plan : plans) {
      ValuationResult result{};
      ASSERT_TRUE(completeSingle(queue, distribution, plan, result).ok());
      results[limit == 0].emplace_back(reinterpret_cast<const char*>(&result), sizeof result);
    }
    EXPECT_EQ(queue.size(), 0u);
  }
  EXPECT_EQ(results[0], results[1]);
}

// Work queued ahead was simulated with the distribution as it was; when the file changes
// before a valuation completes, that valuation and the ones after it use the new file.
TEST_F(QueueTest, ADistributionChangedBetweenValuationsIsUsed) {
  const std::vector<ValuationRequest> requests = {
      requestOf(100.0, 100.0, 2, 300, 0.05, true), requestOf(100.0, 100.0, 2, 300, 0.05, false),
      requestOf(100.0, 100.0, 1, 300, 0.05, true)};
  const std::string before = bellDistribution(41, 0.004);
  const std::string after = bellDistribution(61, 0.02);

  // The reference: one valuation at a time, the file rewritten after the first.
  std::vector<Valued> want;
  RandomGenerator reference{42u};
  for (std::size_t i = 0; i < requests.size(); ++i) {
    dir.write(kDistributionFileName, i == 0 ? before : after);
    Valued v;
    std::memset(&v.result, 0x5a, sizeof v.result);
    ValuationQueue one(1, {.kernel = KernelKind::Reference});
    DistributionCache distribution;
    RowFigures figures{};
    ASSERT_TRUE(valueOption(requests[i], figures, reference, kFiles, one, distribution).ok());
    v.result = figures.result;
    want.push_back(v);
  }

  for (int threads : {1, 3}) {
    dir.write(kDistributionFileName, before);
    ValuationQueue queue(threads, {});
    DistributionCache distribution;
    RandomGenerator generator{42u};
    std::vector<GroupPlan> plans;
    for (const ValuationRequest& r : requests) plans.push_back(enqueueSingle(queue, r, generator));
    std::vector<Valued> got;
    for (std::size_t i = 0; i < requests.size(); ++i) {
      Valued v;
      std::memset(&v.result, 0x5a, sizeof v.result);
      ASSERT_TRUE(completeSingle(queue, distribution, plans[i], v.result).ok());
      got.push_back(v);
      if (i == 0) dir.write(kDistributionFileName, after);
    }
    expectSame(want, got, std::to_string(threads) + " threads");
  }
}

// A distribution that vanishes stops the valuation that needs it, with the work of the ones
// queued after it still in the workers' hands; the queue then shuts down cleanly.
TEST_F(QueueTest, AVanishedDistributionFailsAtItsValuation) {
  dir.write(kDistributionFileName, bellDistribution(41, 0.004));
  ValuationQueue queue(3, {});
  DistributionCache distribution;
  RandomGenerator generator{7u};
  std::vector<GroupPlan> plans;
  for (std::uint32_t i = 0; i < 6; ++i) {
    plans.push_back(enqueueSingle(queue, requestOf(100.0, 100.0, 3, 2000, 0.05, false), generator));
  }
  ValuationResult result{};
  ASSERT_TRUE(completeSingle(queue, distribution, plans[0], result).ok());
  std::filesystem::remove(dir.file(kDistributionFileName));
  const Status failed = completeSingle(queue, distribution, plans[1], result);
  ASSERT_FALSE(failed.ok());
  EXPECT_EQ(failed.message(), "Error opening file: dist.csv");
  EXPECT_EQ(queue.size(), 5u);
}

// ---------------------------------------------------------------------------------------------
// The band-test skipping bounds

// From a ratio at the bound for m steps, m moves by the extreme factor, each rounded, stay
// inside the band: the tests the kernels leave out could not have fired.
TEST(BandSkip, WorstCaseMovesFromTheBoundStayInTheBand) {
  std::mt19937_64 rng(77);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  int checked = 0;
  for (int i = 0; i < 300; ++i) {
    const double spread = std::pow(10.0, -4.0 + 2.5 * unit(rng));
    const ReturnRange range{-spread * unit(rng), spread * unit(rng), false};
    const double growth = 1.0 + (unit(rng) - 0.5) * 1e-4;
    const BandSkip skip = bandSkipBounds(range, growth);
    const double up = std::max({1.0, 1.0 + range.highest, range.highest + growth});
    const double down = std::min({1.0, 1.0 + range.lowest, range.lowest + growth});
    const double anchor = std::pow(2.0, 60.0 * (unit(rng) - 0.5)) * (1.0 + unit(rng));
    const double inverse = 1.0 / anchor;
    for (int m = 1; m <= skip.limit; ++m) {
      ASSERT_LE(skip.upper[m], skip.upper[m - 1]);
      ASSERT_GE(skip.lower[m], skip.lower[m - 1]);
      ASSERT_LE(skip.lower[m], skip.upper[m]);
      // The highest and lowest prices whose ratio is within the bounds.
      double high = skip.upper[m] * anchor;
      while (inverse * high > skip.upper[m]) high = std::nextafter(high, 0.0);
      while (inverse * std::nextafter(high, 1e300) <= skip.upper[m]) high = std::nextafter(high, 1e300);
      double low = skip.lower[m] * anchor;
      while (inverse * low < skip.lower[m]) low = std::nextafter(low, 1e300);
      while (inverse * std::nextafter(low, 0.0) >= skip.lower[m]) low = std::nextafter(low, 0.0);
      for (int k = 0; k < m; ++k) {
        high = high * up;
        low = low * down;
        ASSERT_LE(inverse * high, kUpperBand) << "m " << m << " step " << k;
        ASSERT_GE(inverse * low, kLowerBand) << "m " << m << " step " << k;
      }
      ++checked;
    }
  }
  EXPECT_GT(checked, 1000);  // the ranges above leave room to skip
}

TEST(BandSkip, NoSkippingForFactorsItCannotBound) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(bandSkipBounds({-0.01, 0.01, true}, 1.0).limit, 0);    // a NaN return
  EXPECT_EQ(bandSkipBounds({-0.01, inf, false}, 1.0).limit, 0);    // an infinite factor
  EXPECT_EQ(bandSkipBounds({-1.0, 0.01, false}, 1.0).limit, 0);    // a factor of 0
  EXPECT_EQ(bandSkipBounds({-0.01, 0.01, false}, nan).limit, 0);   // NaN growth
  EXPECT_EQ(bandSkipBounds({-0.01, 0.01, false}, -1.0).limit, 0);  // negative factors
  EXPECT_EQ(bandSkipBounds({-0.2, 0.2, false}, 1.0).limit, 0);     // one step can leave the band
  EXPECT_GT(bandSkipBounds({-0.001, 0.001, false}, 1.0).limit, 10);
}

}  // namespace
