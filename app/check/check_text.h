// What --check says about text: the text as it looks (blanks, quoting, numbers written back)
// and a field as a run reads it, set against how its text looks as a number.
#pragma once

#include <string>
#include <string_view>

#include "text/line_reader.h"

namespace empricer::check {

// The white space that the number conversion skips before a number.
bool isBlank(char c);
// The text without the blanks around it.
std::string trimmed(std::string_view text);
// The text with A to Z in lower case.
std::string lowered(std::string text);
// The text in double quotes, control characters escaped.
std::string quoted(std::string_view text);
// One character in single quotes.
std::string quotedChar(char c);
// A number as every report writes it.
std::string number(double value);

// The characters a read stored, 0 bytes among them.
std::string_view textOf(const LineBuffer& read);

// Field n of a read as a run takes it: the characters of its span (up to its first 0 byte)
// and the number they read as. A field the line lacks is not present, with no text and 0.
struct Field {
  bool present = false;
  std::string text;
  double value = 0.0;
};
Field fieldOf(const LineBuffer& read, int n, char delimiter);

// How a field's text reads as a number.
enum class Form {
  Number,       // a number and nothing else (blanks around it aside)
  Empty,        // nothing but blanks
  NoNumber,     // text without a number: reads as 0
  Word,         // inf or nan: reads as 0
  Hexadecimal,  // 0x...: reads as 0
  Cut,          // a number followed by other characters: reads as the number
};

struct Reading {
  Form form;
  std::string text;  // the field without the blanks around it
  char stop = 0;     // with Cut: the first character after the number
};
Reading readingOf(const std::string& field);

// Why a field reads differently from how it looks; empty when it reads as it looks (or is
// empty, which each file words for itself). `name` names the field, when there is more than one.
std::string whyOf(const std::string& name, const Reading& reading);

}  // namespace empricer::check
