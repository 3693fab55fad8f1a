#include "engine/simulation/lockstep_simulation.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "engine/simulation/lockstep_kernels.h"
#include "engine/table/random_generator.h"
#include "engine/table/random_jump.h"

namespace empricer {

namespace {

// The one-at-a-time loop as a one-lane kernel.
void runLockstepBlockReference(const LockstepJob& job, LockstepBlock& block) {
  std::vector<double> kept(static_cast<std::size_t>(job.keptCount) * kPathCount);
  std::uint32_t state = block.laneState[0];
  simulateTrajectory(job.start, job.growth, job.days, job.stepsPerDay, job.returnFor, state,
                     job.keptDays,
                     job.keptCount, kept.data());
  for (std::int32_t r = 0; r < job.keptCount; ++r) {
    for (int p = 0; p < kPathCount; ++p) {
      block.kept[r][p][0] = kept[static_cast<std::size_t>(r * kPathCount + p)];
    }
  }
}

// Every kernel by its kind and lanes; the first of a kind is its default width. Two vectors
// per path measured fastest with AVX2 (bench/simulation_bench.cpp): with more, the prices no
// longer fit the sixteen registers, and the block's widest ratio allows shorter runs without
// band tests. AVX-512 keeps the same two vectors per path.
struct KernelWidth {
  KernelKind kind;
  int lanes;
  LockstepKernel kernel;
};
constexpr KernelWidth kKernels[] = {
    {KernelKind::Scalar, kScalarLanes, runLockstepBlockScalar},
    {KernelKind::Reference, 1, runLockstepBlockReference},
#if defined(EMPRICER_X86_KERNELS)
    {KernelKind::Avx2, 8, runLockstepBlockAvx2x8},
    {KernelKind::Avx2, 16, runLockstepBlockAvx2x16},
    {KernelKind::Avx2, 32, runLockstepBlockAvx2x32},
    {KernelKind::Avx512, 16, runLockstepBlockAvx512x16},
    {KernelKind::Avx512, 32, runLockstepBlockAvx512x32},
#endif
};

const KernelWidth* kernelWidth(KernelKind kind, int lanes) {
  for (const KernelWidth& k : kKernels) {
    if (k.kind == kind && (lanes == 0 || k.lanes == lanes)) return &k;
  }
  return nullptr;
}

}  // namespace

// Why a block may skip the band tests (used by the wide kernels, lockstep_kernel_body.h).
//
// Notation: fl(x) is x rounded to the nearest double, u = 2^-53. For an exact result z in the
// normal range, fl(z) = z (1 + d) with |d| <= u. Rounding is monotone: x <= y gives
// fl(x) <= fl(y). Within a day a path has its anchor a, inv = fl(1 / a), and each step moves
// its price by p' = fl(p f), with f one of the factors fl(1 + w) or fl(w + g) of some return w
// of the table; the band tests then look at fl(inv p').
//
// Let F = max(1, largest factor) and G = min(1, smallest factor), with G > 0. Rounded
// addition is monotone too, so the extreme factors come from the extreme returns. Take a lane
// at price p > 0 with r = fl(inv p), and suppose no test fires in the next m steps. Then the
// prices p_k (p_0 = p) satisfy D_k <= p_k <= U_k, where U_0 = D_0 = p, U_k = fl(U_{k-1} F),
// D_k = fl(D_{k-1} G): by induction, p_{k-1} <= U_{k-1} and f <= F give
// p_{k-1} f <= U_{k-1} F, and rounding keeps the order (likewise below). While the values stay
// in the normal range, U_k <= p (F (1 + u))^k <= p (F (1 + u))^m for k <= m, since F >= 1, and
// inv p <= r / (1 - u). So
//     inv U_k <= r F^m (1 + u)^m / (1 - u).
// If that bound is at most kUpperBand (a double), rounding gives fl(inv p_k) <= fl(inv U_k)
// <= kUpperBand: the upper test (ratio > kUpperBand) does not fire. It suffices that
//     r <= kUpperBand (1 - u) / (F^m (1 + u)^m).                                       (1)
// The bound computed below is T = fl(fl(kUpperBand / P_m) (1 - 2^-40)), where P_m is F
// multiplied m times in doubles, so P_m >= F^m (1 - u)^(m-1). Then
//     T <= kUpperBand (1 + u)^2 (1 - 2^-40) / (F^m (1 - u)^(m-1)),
// and T is below the right side of (1) as long as (1 + u)^(m+2) / (1 - u)^m <= 1 / (1 - 2^-40),
// which holds for m up to 270 (kMostSkippedSteps) with room to spare: the left side is below 1 + 6.1e-14, the right
// one about 1 + 9.1e-13. So r <= T implies (1). In the same way, with inv D_k >=
// r G^m (1 - u)^m / (1 + u), the lower test (ratio < kLowerBand) does not fire when r is at
// least fl(fl(kLowerBand / Q_m) (1 + 2^-40)), Q_m being G multiplied m times, which is at most
// G^m (1 + u)^(m-1).
//
// The normal range: the kernels skip only on days whose anchors all lie in [2^-1000, 2^1000],
// and only for ratios within [T_lower, T_upper], a part of (0.9, 1.1). Then inv, every p_k,
// U_k, D_k and every product above lie far inside the normal range, and the bounds hold. Only
// m with P_m <= 2^1000 and Q_m >= 2^-1000 are used. A NaN or infinite factor, or a factor at
// or below 0, turns skipping off for the whole valuation; a NaN ratio ends skipping for the
// block until the day's next check (the kernels test NaN ratios apart).
BandSkip bandSkipBounds(const ReturnRange& range, double growth) {
  BandSkip skip;
  skip.limit = 0;
  skip.upper[0] = kUpperBand;
  skip.lower[0] = kLowerBand;
  if (range.hasNaN) return skip;
  const double factors[4] = {1.0 + range.lowest, range.lowest + growth, 1.0 + range.highest,
                             range.highest + growth};
  double up = 1.0;
  double down = 1.0;
  for (double f : factors) {
    if (!std::isfinite(f) || !(f > 0.0)) return skip;
    up = std::max(up, f);
    down = std::min(down, f);
  }
  double upPower = 1.0;
  double downPower = 1.0;
  for (int m = 1; m <= kMostSkippedSteps; ++m) {
    upPower = upPower * up;
    downPower = downPower * down;
    if (!(upPower <= 0x1p+1000) || !(downPower >= 0x1p-1000)) break;
    const double upper = std::min(kUpperBand / upPower * (1.0 - 0x1p-40), skip.upper[m - 1]);
    const double lower = std::max(kLowerBand / downPower * (1.0 + 0x1p-40), skip.lower[m - 1]);
    if (!(lower <= upper)) break;
    skip.upper[m] = upper;
    skip.lower[m] = lower;
    skip.limit = m;
  }
  return skip;
}

bool kernelAvailable(KernelKind kind) {
  switch (kind) {
    case KernelKind::Scalar:
    case KernelKind::Reference:
      return true;
#if defined(EMPRICER_X86_KERNELS)
    case KernelKind::Avx2:
      __builtin_cpu_init();
      return __builtin_cpu_supports("avx2");
    case KernelKind::Avx512:
      __builtin_cpu_init();
      return __builtin_cpu_supports("avx512f");
#endif
    default:
      return false;
  }
}

KernelKind bestKernel() {
  if (kernelAvailable(KernelKind::Avx512)) return KernelKind::Avx512;
  if (kernelAvailable(KernelKind::Avx2)) return KernelKind::Avx2;
  return KernelKind::Scalar;
}

int kernelLaneCount(KernelKind kind) {
  const KernelWidth* k = kernelWidth(kind, 0);
  return k != nullptr ? k->lanes : kScalarLanes;
}

std::vector<int> kernelLaneChoices(KernelKind kind) {
  std::vector<int> lanes;
  for (const KernelWidth& k : kKernels) {
    if (k.kind == kind) lanes.push_back(k.lanes);
  }
  return lanes;
}

const char* kernelName(KernelKind kind) {
  switch (kind) {
    case KernelKind::Avx2:
      return "avx2";
    case KernelKind::Avx512:
      return "avx512";
    case KernelKind::Reference:
      return "reference";
    default:
      return "scalar";
  }
}

LockstepPlan planLockstep(const SimulationSetup& setup, const ReturnRange& range,
                          KernelKind kind, int lanes, std::vector<std::int32_t> keptDays) {
  const KernelWidth* width = nullptr;
  if (kernelAvailable(kind)) {
    width = kernelWidth(kind, lanes);
    if (width == nullptr) width = kernelWidth(kind, 0);
  }
  if (width == nullptr) width = kernelWidth(KernelKind::Scalar, 0);
  LockstepPlan plan{};
  plan.kernel = width->kernel;
  plan.lanes = width->lanes;
  plan.skip = bandSkipBounds(range, setup.growth);
  plan.job.returnFor = setup.draws->returnFor;
  for (int p = 0; p < kPathCount; ++p) plan.job.start[p] = setup.start[p];
  plan.job.growth = setup.growth;
  plan.job.days = setup.days;
  plan.job.stepsPerDay = setup.stepsPerDay;
  plan.job.skip = nullptr;  // set to plan.skip where the plan is used, since plans are copied
  plan.oneTrajectory = randomJump(drawsOf(1, setup.days, setup.stepsPerDay));
  plan.keptDays =
      keptDays.empty() ? valuationKeptDays(setup.days) : std::move(keptDays);
  return plan;
}

}  // namespace empricer
