// Lines of a delimited text file, of any length, and the fields of a line.
#pragma once

#include <string>
#include <vector>

#include "text/input_stream.h"

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
