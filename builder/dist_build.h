// A whole build: read the settings (for a risk-neutral mean) and the prices, scale the returns
// to empricer's day, fit the table, move it onto a chosen mean, check it through the
// valuation's own loader and draw table, write the files, report.
#pragma once

#include <string>
#include <vector>

#include "builder/dist_options.h"

namespace empricer {

// The tube around the targets that the table follows, as a share of the data's standard
// deviation: every output draws within it of its target unless the row limit forces a wider
// one.
constexpr double kToleranceShare = 0.001;

struct BuildEnd {
  enum class Kind {
    written,     // the files are in place
    unusable,    // the input cannot be used, or an output exists without --force
    unwritable,  // an output cannot be written, or the table does not read back exactly
  };
  Kind kind = Kind::written;
  std::string report;                 // when written: the report for standard output
  std::string message;                // when not written: what went wrong
  std::vector<std::string> warnings;  // when written: for standard error, one line each
};

// Nothing is created or changed unless every step succeeds.
BuildEnd buildDistribution(const DistOptions& options);

}  // namespace empricer
