// What --check shares across the files it reads: the lines of a file with the reads a run
// makes of them, and the findings of one file, line by line.
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "text/input_stream.h"
#include "text/line_reader.h"

namespace empricer::check {

// A line of the file and the reads it gave: one, or one per piece of at most 99 characters.
struct FileLine {
  int number = 0;  // from 1
  std::vector<LineBuffer> reads;
  int length = 0;  // characters

  // The reads a reader's loop hands over (it skips the empty ones).
  int dataReads() const;
};

// Every read of an open stream, in the readers' loop (until the end-of-file flag), grouped by
// the line of the file it came from.
std::vector<FileLine> linesOf(InputStream& stream);

// Why a line is read as more than one: its length.
std::string piecesReason(const FileLine& line);

// "a run stops with" and the message quoted.
std::string runStops(const std::string& message);

// The findings of one file.
class Findings {
 public:
  explicit Findings(std::string file) : file_(std::move(file)) {}
  // Reasons for a line; the first call for the line sets what it reads.
  void add(int line, const std::string& reads, std::vector<std::string> reasons);
  // The file as a whole.
  void addFile(const std::string& what, const std::string& why);
  // The lines in line order, then those for the file as a whole.
  void appendTo(std::vector<std::string>& out) const;

 private:
  struct Finding {
    std::string reads;
    std::vector<std::string> reasons;
  };
  std::string file_;
  std::map<int, Finding> lines_;
  std::vector<std::string> whole_;
};

// Opens `fileName` into `stream` and gives true. A file that cannot be opened gives false, and
// `findings` go into `out`: with, when a run needs the file (`required`), that it cannot be
// opened and what a run stops with.
bool openedOrReported(InputStream& stream, const char* fileName, bool required,
                      Findings& findings, std::vector<std::string>& out);

}  // namespace empricer::check
