// A picture of the data and of the table as the sampler draws it, as one self-contained SVG:
// the histogram of the returns, the density of the draws over it, axes with ticks and labels,
// and a title.
#pragma once

#include <string>
#include <vector>

// The returns shown run from the 0.1% to the 99.9% point of the data, a little widened; the
// subtitle counts the returns and draws that lie outside.
std::string svgPicture(const std::string& pricesFile, const std::vector<double>& sortedReturns,
                       const std::vector<double>& draws, int rows);
