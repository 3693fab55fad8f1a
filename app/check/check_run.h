// empricer --check: reads Setup.txt, dist.csv and batch.csv (the last for a batch run, or when
// the run mode is asked) by the rules of a run, values nothing and writes no file, and tells
// each line that reads differently from how it looks, as one line
//   FILE:LINE: what it reads: why
// ("FILE: ..." for the file as a whole, such as a key that no line gives). Several reasons for
// one line are joined by "; ".
#pragma once

#include <string>
#include <vector>

namespace empricer {

// One value that --check says a line reads, whether or not the line has a finding: the
// field it comes from, with the field's characters as --check takes them (up to the
// field's first 0 byte; empty for a field the line lacks), and the number.
struct ReadValue {
  std::string file;
  int line = 0;      // the line of the file, from 1
  std::string name;  // as --check calls it: "rate", "shift factor 2", "weight", "days", ...
  int field = 0;     // the field's number on the line, from 1
  std::string text;
  double value = 0.0;
};

struct CheckReport {
  std::vector<std::string> findings;   // file by file, in line order
  std::vector<std::string> filesRead;  // the files looked at, in that order
  // File by file, in line order: the values of every line that is read in one piece and
  // gives a setting (keys 1 to 7 of Setup.txt), a row of dist.csv (up to the table's
  // capacity) or a data row of batch.csv.
  std::vector<ReadValue> values;
};
// The day a run would value with: its steps (--steps-per-day) and the year of its volatility
// (--trading-days).
struct CheckDay {
  int stepsPerDay = 270;
  double tradingDays = 252.0;
};

// Checks the files in the working directory.
CheckReport checkFiles(const CheckDay& day = {});

// Prints the findings, or one summary line when there is none. Returns kDoneStatus when there
// is none, kFailureStatus when there is some or standard output fails (text/exit_status.h).
int runCheck(const CheckDay& day);

}  // namespace empricer
