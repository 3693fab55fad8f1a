#include "app/check/check_text.h"

#include "text/input_stream.h"

#include <cstddef>

#include "text/fields.h"
#include "text/number_conversion.h"
#include "text/number_text.h"

namespace empricer::check {

namespace {

void appendEscaped(std::string& out, char c) {
  const auto byte = static_cast<unsigned char>(c);
  if (c == '\t') {
    out += "\\t";
  } else if (c == '\r') {
    out += "\\r";
  } else if (c == '"' || c == '\\') {
    out += '\\';
    out += c;
  } else if (byte < 0x20 || byte == 0x7f) {
    static constexpr char kDigits[] = "0123456789abcdef";
    out += "\\x";
    out += kDigits[byte >> 4];
    out += kDigits[byte & 0xf];
  } else {
    out += c;
  }
}

}  // namespace

bool isBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::string trimmed(std::string_view text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && isBlank(text[begin])) ++begin;
  while (end > begin && isBlank(text[end - 1])) --end;
  return std::string(text.substr(begin, end - begin));
}

std::string lowered(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

std::string quoted(std::string_view text) {
  std::string out = "\"";
  for (char c : text) appendEscaped(out, c);
  return out + "\"";
}

std::string quotedChar(char c) {
  std::string out = "'";
  if (c == '\'') {
    out += "\\'";
  } else {
    appendEscaped(out, c);
  }
  return out + "'";
}

std::string number(double value) {
  std::string text;
  appendNumber(text, value);
  return text;
}

std::string_view textOf(const LineBuffer& read) {
  return std::string_view(read.bytes.data(), static_cast<std::size_t>(read.length));
}

Field fieldOf(const LineBuffer& read, int n, char delimiter) {
  const FieldSpan span = fieldSpan(read, n, delimiter);
  return {span.present, std::string(fieldText(read, span)), fieldValue(read, span)};
}

Reading readingOf(const std::string& field) {
  Reading reading{Form::Number, trimmed(field)};
  const std::string& text = reading.text;
  if (text.empty()) {
    reading.form = Form::Empty;
    return reading;
  }
  const std::size_t length = numberPrefixLength(text.c_str());
  if (length == 0) {
    const std::string word = lowered(text.substr(text[0] == '+' || text[0] == '-' ? 1 : 0));
    reading.form = word.rfind("inf", 0) == 0 || word.rfind("nan", 0) == 0 ? Form::Word
                                                                            : Form::NoNumber;
    return reading;
  }
  if (length == text.size()) return reading;
  const std::string digits = text.substr(0, length);
  const bool zero = digits == "0" || digits == "+0" || digits == "-0";
  const bool hexadecimal = zero && (text[length] == 'x' || text[length] == 'X');
  reading.form = hexadecimal ? Form::Hexadecimal : Form::Cut;
  reading.stop = text[length];
  return reading;
}

namespace {

std::string whyOfForm(const std::string& name, const Reading& reading) {
  const std::string field = name.empty() ? quoted(reading.text) : name + " " + quoted(reading.text);
  switch (reading.form) {
    case Form::Number:
    case Form::Empty:
      return "";
    case Form::NoNumber:
      return field + " holds no number";
    case Form::Word:
      return field + " is not read as a number";
    case Form::Hexadecimal:
      return field + " is hexadecimal, which is not read";
    case Form::Cut:
      return (name.empty() ? std::string("the number") : name) + " ends at " +
             quotedChar(reading.stop) + " (" + quoted(reading.text) + ")";
  }
  return "";
}

}  // namespace

std::string whyOf(const std::string& name, const Reading& reading) {
  std::string why = whyOfForm(name, reading);
  if (!why.empty() && reading.text.find(kByteOrderMark) != std::string::npos) {
    why += ": it holds a byte-order mark, which is skipped only at the very start of a file";
  }
  return why;
}

}  // namespace empricer::check
