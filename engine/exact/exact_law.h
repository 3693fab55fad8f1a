// The law a simulation converges to. Under the ideal generator every step's output is one of
// the 32768 equally likely values, independent of every other step, so a path's log ratio to
// its day's anchor walks from 0 by the log of its step factor, clipped to the band after every
// step; the anchor moves to the price after each day, so the log of S_T / start is the sum of
// `days` independent copies of one day's walk.
//
// The day's walk runs on a lattice of the log ratio whose ends are the band's: a step that
// lands between two nodes splits its mass between them, keeping its mean; a step that lands on
// or beyond an end puts it on the end, where it is a point mass (an atom). The sum of days is
// the lattice law raised to the days by Fourier transform. The lattice's error falls as the
// square of its spacing; figures from two spacings give the extrapolated value and an
// estimate of its error.
#pragma once

#include <complex>
#include <cstdint>
#include <vector>

#include "engine/table/draw_table.h"
#include "engine/valuation/work_watch.h"
#include "engine/exact/fourier.h"
#include "engine/exact/step_tilt.h"

namespace empricer {

// The base path moves by 1 + w; a shifted path by w + g, g its growth per step.
enum class PathKind { base, shifted };

struct DayLaw {
  bool defined = true;  // false when some step factor is NaN: no figure has a limit then
  int intervals = 0;    // nodes 0..intervals
  double low = 0.0;     // log of the band's lower factor: node 0
  double high = 0.0;    // log of its upper factor: the last node
  double spacing = 0.0;
  std::vector<double> mass;  // each node's probability after the day's last step
  std::vector<double> tilted;  // mass times e^x, node by node
  double atomLow = 0.0;      // the parts of the end nodes' masses that lie exactly on the ends
  double atomHigh = 0.0;
  double expMean = 0.0;      // E[e^X] of the lattice law
  double expVariance = 0.0;  // Var[e^X] of the lattice law
  double mean = 0.0;         // E[X]
  // A step law of one value makes the day's walk certain: it ends at `certainAt` (then there
  // is no lattice, and the sums of days are point masses too).
  bool certain = false;
  double certainAt = 0.0;
  // log E e^(l (X - mean)) at l = +-lambda[i]: for the windows of the sums of days.
  std::vector<double> lambda;
  std::vector<double> logMomentAbove;
  std::vector<double> logMomentBelow;
};

// The distinct log step factors of one step of `kind` (growth g for the shifted paths), each
// with its probability; a factor of 0 or below is -infinity. Not defined when a factor is NaN.
struct StepLaw {
  bool defined = true;
  std::vector<double> logStep;  // ascending
  std::vector<double> probability;
};
StepLaw stepLaw(const DrawTable& draws, PathKind kind, double growth);
// The same from the draw table's returns in ascending order (NaN last), for both kinds.
std::vector<double> sortedReturns(const DrawTable& draws);
// Under a `tilt`, each return weighs its share of the tilted weights (engine/exact/step_tilt.h).
StepLaw stepLaw(const std::vector<double>& returns, PathKind kind, double growth,
                const StepTilt& tilt = {});

// One day's walk of `stepsPerDay` steps on a lattice of `intervals` spacings: step by step,
// or, where the walk cannot come near the band's ends (but with a probability below 1e-20), as
// the step kernel's power by Fourier transform. `walked` takes every step (the reference for
// the other). `watch`, when given, is asked between steps; a law it stopped is not defined.
DayLaw dayLaw(const StepLaw& steps, int intervals, int stepsPerDay, bool walked = false,
              const WorkWatch* watch = nullptr);
DayLaw dayLaw(const DrawTable& draws, PathKind kind, double growth, int intervals,
              int stepsPerDay);

// The law of the sum of `days` (>= 1) independent copies of a day's law: node j at
// days x low + j x spacing. Only a window of nodes outside which the mass is below 1e-18 is
// kept. Point masses (the days on which the walk ended on a band's end, all of them) are kept
// apart from the rest, whose node masses are read as samples of a density.
struct TerminalLaw {
  bool defined = true;
  int days = 0;
  double origin = 0.0;  // log ratio of node `first`
  double spacing = 0.0;
  std::int64_t first = 0;
  // Tail sums from node first + i up: of the masses, and of the masses times e^x.
  std::vector<double> tail;
  std::vector<double> expTail;
  // Or, when period > 0, the same in spectral form (engine/exact/exact_law.cpp): the window's
  // nodes as one period, and the spectra of the masses and of the masses times e^x.
  struct Spectrum {
    double total = 0.0;                       // c_0: the window's whole mass
    double constant = 0.0;                    // 2 Re sum of the terms
    std::vector<std::complex<double>> terms;  // g_1 .. g_K
  };
  std::int64_t period = 0;
  Spectrum masses;
  Spectrum tilted;
  struct Atom {
    double at;  // log ratio
    double mass;
    std::int64_t node;  // its node
  };
  std::vector<Atom> atoms;
  // A day's law whose window reaches an end of the band: the density stops there.
  bool densityEndsLow = false;
  bool densityEndsHigh = false;
  double expMean = 0.0;      // E[e^X]
  double expVariance = 0.0;  // Var[e^X]
  // Var[e^X]^0.5, formed from logs: a number also where Var[e^X] is beyond a double (the sums
  // of thousands of days), as long as the spread itself is not.
  double expSpread = 0.0;
  // A law of points only (oneStepLaw): the atoms ascend, and these are their sums from atom i
  // up, of the masses and of the masses times e^x (one more entry, 0, at the end).
  std::vector<double> pointTail;
  std::vector<double> pointExpTail;
};

TerminalLaw terminalLaw(const DayLaw& day, int days);

// The masses of a sum of days on the day law's lattice, point masses included: node j of
// `mass` lies at days x low + (first + j) x spacing. Only the window outside which the mass is
// below 1e-18 on each side is kept.
struct NodeWindow {
  std::int64_t first;
  std::int64_t end;  // inclusive
};
// The nodes of that window (as sumOfDays keeps them), without their masses.
NodeWindow sumWindow(const DayLaw& day, int days);

struct NodeMasses {
  std::int64_t first = 0;
  std::vector<double> mass;
};
// `transforms`, when given, keeps the transforms it takes for other sums.
NodeMasses sumOfDays(const DayLaw& day, int days, FourierTransforms* transforms = nullptr);

// The law of a sum of `days` days given by its node masses (summing to 1) on the day law's
// lattice, read as terminalLaw reads a lattice's: tail sums between midpoints, and a one-day
// law's density ending at the band's ends with its point masses there (`atomLow` and
// `atomHigh` of the masses' end nodes).
TerminalLaw lawOfNodes(const DayLaw& day, int days, const NodeMasses& nodes, double atomLow = 0.0,
                       double atomHigh = 0.0);

// The law of a day of one step: the step's own values held in the band, point masses all (no
// lattice). Its tail sums come from the points' own sums, from the highest down.
TerminalLaw oneStepLaw(const StepLaw& steps);

// P(X > x) (or P(X >= x) when `orEqual`), and E[e^X; the same event].
struct TailFigures {
  double probability;
  double expectation;
};
TailFigures tailAbove(const TerminalLaw& law, double x, bool orEqual);

}  // namespace empricer
