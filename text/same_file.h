// Whether an output of a run would write over one of its inputs, or over another of its
// outputs: both programs refuse such a command line before any file is made or emptied.
#pragma once

#include <string>
#include <vector>

#include "text/status.h"

namespace empricer {

// A file a run reads or writes: its path as given, and how a message names it ("--results
// r.csv" for an output, "the quotes file (--quotes)" for an input).
struct NamedFile {
  std::string path;
  std::string name;
};

// Whether `a` and `b` are one file: by device and inode when both exist, else by their paths
// made absolute and normal (the folders that exist resolved, so "./q.csv", "q.csv" and
// "sub/../q.csv" are one). A character device (/dev/null, a terminal) holds nothing to
// overwrite and is one file with nothing.
bool sameFile(const std::string& a, const std::string& b);

// The first output that is the same file as an input or as an output before it, as "--results
// quotes.csv is the quotes file (--quotes); an output never overwrites an input" or "--plot
// r.csv is --results r.csv; two outputs never write one file" (badInput, without the program's
// name or a line end); success when every output is a file of its own.
Status outputsApart(const std::vector<NamedFile>& outputs, const std::vector<NamedFile>& inputs);

}  // namespace empricer
