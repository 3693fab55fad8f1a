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

}  // namespace empricer
