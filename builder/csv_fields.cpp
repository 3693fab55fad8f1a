#include "builder/csv_fields.h"

#include <filesystem>
#include <system_error>

#include "text/number_conversion.h"

namespace empricer {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string withoutBlanks(const std::string& text, std::size_t begin, std::size_t end) {
  while (begin < end && isBlank(text[begin])) ++begin;
  while (end > begin && isBlank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

}  // namespace

bool readWholeLine(InputStream& stream, std::string& line) {
  line.clear();
  int c = peekChar(stream);
  if (c < 0) return false;
  while (c >= 0 && c != '\n') {
    line.push_back(static_cast<char>(c));
    takeChar(stream);
    c = peekChar(stream);
  }
  if (c == '\n') takeChar(stream);
  return true;
}

bool isBlankLine(const std::string& line) {
  for (const char c : line) {
    if (!isBlank(c)) return false;
  }
  return true;
}

char delimiterOf(const std::string& header) {
  for (const char candidate : {',', ';', '\t'}) {
    if (header.find(candidate) != std::string::npos) return candidate;
  }
  return ',';
}

std::vector<std::string> splitFields(const std::string& line, char delimiter) {
  std::vector<std::string> fields;
  std::size_t i = 0;
  const std::size_t size = line.size();
  for (;;) {
    std::size_t start = i;
    while (start < size && isBlank(line[start]) && line[start] != delimiter) ++start;
    if (start < size && line[start] == '"') {
      // A quoted field: up to the closing quote, then whatever stands before the delimiter.
      std::string field;
      std::size_t k = start + 1;
      while (k < size) {
        if (line[k] == '"') {
          if (k + 1 < size && line[k + 1] == '"') {
            field.push_back('"');
            k += 2;
            continue;
          }
          ++k;
          break;
        }
        field.push_back(line[k++]);
      }
      const std::size_t end = line.find(delimiter, k);
      field += withoutBlanks(line, k, end == std::string::npos ? size : end);
      fields.push_back(field);
      if (end == std::string::npos) break;
      i = end + 1;
    } else {
      const std::size_t end = line.find(delimiter, i);
      fields.push_back(withoutBlanks(line, i, end == std::string::npos ? size : end));
      if (end == std::string::npos) break;
      i = end + 1;
    }
  }
  return fields;
}

std::optional<double> decimalNumber(const std::string& text) {
  // The prefix leaves out blanks before the number, so a text that starts with one is refused.
  if (text.empty() || numberPrefixLength(text.c_str()) != text.size()) return std::nullopt;
  return convertNumber(text.c_str());
}

Failure cannotOpen(const std::string& path) {
  std::error_code error;
  const auto status = std::filesystem::status(path, error);
  const char* why = !std::filesystem::exists(status)       ? "no such file"
                    : std::filesystem::is_directory(status) ? "it is a directory"
                                                            : "it cannot be read";
  return Failure{path + ": cannot open: " + why};
}

}  // namespace empricer
