// Lines of a delimited text file, of any length, the fields of a line, and the numbers and
// messages of the readers of empricer-dist.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "text/status.h"
#include "text/input_stream.h"

namespace empricer {

// Reads the next line into `line`, without its line end (the stream has already turned CR LF
// into one). Returns false, with `line` empty, when the file has nothing more.
bool readWholeLine(InputStream& stream, std::string& line);

// True when the line holds nothing but blanks.
bool isBlankLine(const std::string& line);

// The delimiter that a header line uses: a comma when it holds one, otherwise a semicolon,
// otherwise a tab, otherwise a comma (a file of one column).
char delimiterOf(const std::string& header);

// The fields of `line` split at `delimiter`, each without the blanks around it. A field in
// double quotes loses them and may hold the delimiter; "" inside the quotes stands for one
// quote.
std::vector<std::string> splitFields(const std::string& line, char delimiter);

// The whole text as a decimal number (as empricer reads numbers: `1.5`, `-.5`, `1e-3`,
// `1d-3`), or nothing when it is empty or anything else stands in it, a blank included.
std::optional<double> decimalNumber(const std::string& text);

// "PATH: cannot open: " and why: no such file, it is a directory, or it cannot be read.
Failure cannotOpen(const std::string& path);

}  // namespace empricer
