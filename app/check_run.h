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

struct CheckReport {
  std::vector<std::string> findings;   // file by file, in line order
  std::vector<std::string> filesRead;  // the files looked at, in that order
};
// Checks the files in the working directory.
CheckReport checkFiles();

// Prints the findings, or one summary line when there is none. Returns 0 when there is none,
// 1 when there is some, and 1 when standard output fails.
int runCheck();

}  // namespace empricer
