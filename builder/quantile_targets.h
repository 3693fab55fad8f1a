// What each of the generator's equally likely outputs should draw: the data's quantile function
// averaged over as many equal slices of probability as there are outputs.
#pragma once

#include <vector>

namespace empricer {

// The slices may lose at most this share of the data's standard deviation before they are
// widened to give it back.
constexpr double kSpreadLossLimit = 0.001;

// The mean of the sorted returns over each of kGeneratorOutputs equal slices of probability,
// rising. A slice that lies within one return's share is that return exactly, and together the
// slices keep the data's mean. They lose the spread inside each slice, which only matters where
// a slice holds returns far apart (an extreme return beside ordinary ones): when the slices'
// standard deviation falls short of the data's by more than kSpreadLossLimit, they are widened
// about the mean by the factor that gives it back.
std::vector<double> quantileTargets(const std::vector<double>& sortedReturns, double mean,
                                    double standardDeviation);

}  // namespace empricer
