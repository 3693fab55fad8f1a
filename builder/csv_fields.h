// The bytes of a file, its lines of any length, the fields of a line, and the numbers and
// messages of the readers of empricer-dist.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "text/status.h"

namespace empricer {

// The whole file at `path`, byte for byte; fails as cannotOpen does when it cannot be opened
// or read to its end.
Outcome<std::string> readFileBytes(const std::string& path);

// The lines of a text in memory, each without its line end: LF, CR LF, or a lone CR (the line
// end of old spreadsheets). Every other byte belongs to its line. The last line needs no line
// end, and a line end at the very end starts no line more.
class TextLines {
 public:
  explicit TextLines(std::string_view text) : rest_(text) {}
  // The next line into `line`; false when the text has nothing more.
  bool next(std::string_view& line);

 private:
  std::string_view rest_;
};

// True when the line holds nothing but blanks.
bool isBlankLine(std::string_view line);

// The delimiter that a header line uses: a comma when it holds one, otherwise a semicolon,
// otherwise a tab, otherwise a comma (a file of one column).
char delimiterOf(std::string_view header);

// The fields of `line` split at `delimiter`, each without the blanks around it. A field in
// double quotes loses them and may hold the delimiter; "" inside the quotes stands for one
// quote.
std::vector<std::string> splitFields(std::string_view line, char delimiter);

// The whole text as a decimal number (as empricer reads numbers: `1.5`, `-.5`, `1e-3`,
// `1d-3`), or nothing when it is empty or anything else stands in it, a blank included.
std::optional<double> decimalNumber(const std::string& text);

// "PATH: cannot open: " and why: no such file, it is a directory, or it cannot be read.
Failure cannotOpen(const std::string& path);

}  // namespace empricer
