// A whole build: read the prices, fit the table, check it through the valuation's own loader
// and draw table, write the files, report.
#pragma once

#include <string>

#include "builder/dist_options.h"

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
  std::string report;   // when written: the report for standard output
  std::string message;  // when written: a warning or nothing; otherwise what went wrong
};

// Nothing is created or changed unless every step succeeds.
BuildEnd buildDistribution(const DistOptions& options);
