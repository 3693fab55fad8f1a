// A whole build: read the settings (for a risk-neutral mean) and the prices, scale the returns
// to empricer's day, fit the table, move it onto a chosen mean, check it through the
// valuation's own loader and draw table, write the files, report.
#pragma once

#include <string>
#include <vector>

#include "builder/dist_options.h"
#include "text/status.h"

namespace empricer {

// The tube around the targets that the table follows, as a share of the data's standard
// deviation: every output draws within it of its target unless the row limit forces a wider
// one.
constexpr double kToleranceShare = 0.001;

// A build whose files are in place.
struct BuiltDistribution {
  std::string report;                 // for standard output
  std::vector<std::string> warnings;  // for standard error, one line each
};

// Nothing is created or changed unless every step succeeds. A failure is one of two kinds:
// badInput when the input cannot be used or an output exists without --force; cannotOpen or
// cannotWrite when an output cannot be made or written, or the table does not read back
// exactly.
Outcome<BuiltDistribution> buildDistribution(const DistOptions& options);

}  // namespace empricer
