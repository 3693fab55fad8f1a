// A picture of the data and of the table as the sampler draws it, as one self-contained SVG:
// the histogram of the returns, the density of the draws over it, axes with ticks and labels,
// and a title.
#pragma once

#include <string>
#include <vector>

namespace empricer {

// The returns shown (the target's) run from their 0.1% to their 99.9% point, a little widened; the
// subtitle counts the returns and draws that lie outside.
std::string svgPicture(const std::string& pricesFile, const std::vector<double>& sortedReturns,
                       const std::vector<double>& draws, int rows);

// The picture of a fit: the density of a day's log return (`stepsPerDay` steps, the band's
// clip included, from the exact law on a lattice of 1024 spacings) of the history's table and
// of the fitted one, as two lines over the history's day from its 0.1% to its 99.9% point, a
// little widened.
std::string dayDensityPicture(const std::string& pricesFile,
                              const std::vector<double>& historyDraws,
                              const std::vector<double>& fittedDraws, int stepsPerDay);

}  // namespace empricer
