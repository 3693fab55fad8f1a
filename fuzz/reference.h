// Plain models of how the program reads its text, written from the documented rules and
// built on the C library where it can serve as the judge. The fuzz targets compare the
// program's readers with them.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace reference {

// The file as the readers see it after text-mode translation: no UTF-8 byte-order mark at the
// very start, nothing from the first 0x1A on, and every CR LF pair as one LF.
inline std::string textModeBytes(std::string_view raw) {
  if (raw.substr(0, 3) == "\xEF\xBB\xBF") raw.remove_prefix(3);
  const std::size_t cut = raw.find('\x1a');
  if (cut != std::string_view::npos) raw = raw.substr(0, cut);
  std::string out;
  out.reserve(raw.size());
  for (std::size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') continue;
    out.push_back(raw[i]);
  }
  return out;
}

// Every read the reading loop makes, in order: the characters it stores (at most 99, never a
// newline). Empty reads are included; the loop skips them, and it also skips a read whose
// first stored byte is 0. The loop ends after the read that meets the end of the text.
inline std::vector<std::string> allReads(std::string_view raw) {
  const std::string text = textModeBytes(raw);
  std::vector<std::string> reads;
  std::size_t pos = 0;
  bool ended = false;
  while (!ended) {
    std::string stored;
    while (stored.size() < 99) {
      if (pos == text.size()) {
        ended = true;
        break;
      }
      const char c = text[pos++];
      if (c == '\n') break;
      stored.push_back(c);
    }
    reads.push_back(stored);
  }
  return reads;
}

// The lines the reading loop hands over: every read that stored a first byte other than 0,
// whole, with any 0 bytes it holds further on.
inline std::vector<std::string> handedLines(std::string_view raw) {
  std::vector<std::string> lines;
  for (const std::string& read : allReads(raw)) {
    if (read.empty() || read[0] == 0) continue;
    lines.push_back(read);
  }
  return lines;
}

// Decimal text to double with the exponent letters e, E, d and D, judged by strtod: the
// letters d and D are mapped to e, and strtod's own extras (hexadecimal, inf, nan) are taken
// back to what the plain decimal grammar reads of them. Sets `length` to the number's length
// after the leading white space.
inline double convert(std::string_view text, std::size_t* length = nullptr) {
  std::string copy(text.substr(0, text.find('\0')));
  for (char& c : copy) {
    if (c == 'd' || c == 'D') c = 'e';
  }
  std::size_t skipped = 0;
  while (skipped < copy.size() && std::strchr(" \t\n\v\f\r", copy[skipped]) != nullptr &&
         copy[skipped] != 0) {
    ++skipped;
  }
  char* end = nullptr;
  const double value = std::strtod(copy.c_str(), &end);
  // With no conversion strtod points back at the start, before the white space.
  const char* from = copy.c_str() + skipped;
  const std::string consumed(from, end > from ? static_cast<const char*>(end) : from);
  std::size_t n = consumed.size();
  double result = value;
  if (consumed.find_first_of("xX") != std::string::npos) {
    // "0x...": the decimal grammar reads the 0 and stops at the x.
    const bool negative = consumed[0] == '-';
    n = (consumed[0] == '+' || consumed[0] == '-') ? 2 : 1;
    result = negative ? -0.0 : 0.0;
  } else if (consumed.find_first_of("iInN") != std::string::npos) {
    n = 0;  // inf and nan hold no digit
    result = 0.0;
  } else if (n == 0) {
    result = 0.0;
  }
  if (length != nullptr) *length = n;
  return result;
}

// The characters of field n (from 1) of the characters a read stored, 0 bytes among them:
// those between its delimiters up to the field's first 0 byte. Nothing for a field that the
// line lacks or a field number below 1.
inline std::optional<std::string> fieldText(std::string_view line, char delimiter,
                                            std::int64_t n) {
  if (n < 1) return std::nullopt;
  std::int64_t index = 1;
  std::size_t start = 0;
  while (index < n) {
    const std::size_t at = line.find(delimiter, start);
    if (at == std::string_view::npos) return std::nullopt;
    start = at + 1;
    ++index;
  }
  std::size_t end = line.find(delimiter, start);
  if (end == std::string_view::npos) end = line.size();
  const std::string_view text = line.substr(start, end - start);
  return std::string(text.substr(0, text.find('\0')));
}

// That field converted; 0.0 for a field that the line lacks or a field number below 1.
inline double field(std::string_view line, char delimiter, std::int64_t n) {
  const std::optional<std::string> text = fieldText(line, delimiter, n);
  return text ? convert(*text) : 0.0;
}

// Truncation toward zero to 32 bits, or nothing for NaN, infinities and values out of range.
inline std::optional<std::int32_t> toInt32(double value) {
  if (std::isnan(value)) return std::nullopt;
  const double t = std::trunc(value);
  if (t < -2147483648.0 || t > 2147483647.0) return std::nullopt;
  return static_cast<std::int32_t>(t);
}

inline bool sameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

}  // namespace reference
