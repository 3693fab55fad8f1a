// Rows of dist.csv whose draw follows a target return for every generator output.
//
// With a total weight of kTableTotalWeight, output r draws u = r for r from 0 to 32766, and
// output 32767 draws the total. A row's cumulative weight is the draw at which its return is
// reached, with straight lines in between, so the rows are the knots of a piecewise-linear
// function of the draw (two knots with the same return hold a point mass). Two outputs miss
// the knots: u = 0 lies below the first cumulative weight, which is 1, and u = total matches no
// interval; both draw the last row's return. So the last row holds a central return with
// weight 0, and the knots before it serve the outputs 1 to 32766.
#pragma once

#include <cstdint>
#include <vector>

namespace empricer {

constexpr std::int32_t kTableTotalWeight = 32768;

struct DistRow {
  double ret = 0.0;
  std::int32_t weight = 0;
};

struct TableFit {
  std::vector<DistRow> rows;
  // The tube that placed the knots. When it is the one asked for, each output from 1 to 32766
  // draws within it of its target, up to rounding.
  double tolerance = 0.0;
};

// Fits rows to `targets` (one per generator output, rising). The two outputs that miss the
// knots take the pair of neighbouring targets nearest the middle that lie closest together,
// and the last row their mean. The knots are those that a tube of `tolerance` around the other
// targets needs, laid greedily from the lowest output, each segment as long as the tube holds
// it, with the targets' own returns. When they make more than `maxRows` rows, the tube is
// widened to about the narrowest that fits, and the knots' returns become those closest to the
// targets in the least-squares sense, held rising: that keeps the mean and as much of the
// spread as so few knots allow. With `maxRows` 2 there is no room for the central row: the two
// knots alone, and the two outputs that miss them draw the top.
TableFit fitTable(const std::vector<double>& targets, double tolerance, int maxRows);

}  // namespace empricer
