#include "builder/csv_fields.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <system_error>

#include "text/number_conversion.h"

namespace empricer {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string withoutBlanks(std::string_view text, std::size_t begin, std::size_t end) {
  while (begin < end && isBlank(text[begin])) ++begin;
  while (end > begin && isBlank(text[end - 1])) --end;
  return std::string(text.substr(begin, end - begin));
}

// Closes the descriptor when it goes.
struct OpenFile {
  int fd = -1;
  ~OpenFile() {
    if (fd >= 0) ::close(fd);
  }
};

}  // namespace

Outcome<std::string> readFileBytes(const std::string& path) {
  OpenFile file{::open(path.c_str(), O_RDONLY | O_CLOEXEC)};
  if (file.fd < 0) return cannotOpen(path);
  std::string bytes;
  char block[65536];
  for (;;) {
    const ssize_t got = ::read(file.fd, block, sizeof block);
    if (got < 0 && errno == EINTR) continue;
    // A directory, or a file whose reading fails before its end, is not read at all.
    if (got < 0) return cannotOpen(path);
    if (got == 0) return bytes;
    bytes.append(block, static_cast<std::size_t>(got));
  }
}

bool TextLines::next(std::string_view& line) {
  if (rest_.empty()) return false;
  const std::size_t end = rest_.find_first_of("\r\n");
  line = rest_.substr(0, end);
  if (end == std::string_view::npos) {
    rest_ = {};
  } else {
    const bool crlf = rest_[end] == '\r' && end + 1 < rest_.size() && rest_[end + 1] == '\n';
    rest_.remove_prefix(end + (crlf ? 2 : 1));
  }
  return true;
}

bool isBlankLine(std::string_view line) {
  for (const char c : line) {
    if (!isBlank(c)) return false;
  }
  return true;
}

char delimiterOf(std::string_view header) {
  for (const char candidate : {',', ';', '\t'}) {
    if (header.find(candidate) != std::string_view::npos) return candidate;
  }
  return ',';
}

std::vector<std::string> splitFields(std::string_view line, char delimiter) {
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
      field += withoutBlanks(line, k, end == std::string_view::npos ? size : end);
      fields.push_back(field);
      if (end == std::string_view::npos) break;
      i = end + 1;
    } else {
      const std::size_t end = line.find(delimiter, i);
      fields.push_back(withoutBlanks(line, i, end == std::string_view::npos ? size : end));
      if (end == std::string_view::npos) break;
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
  return Failure{path + ": cannot open: " + why, FailureKind::cannotOpen};
}

}  // namespace empricer
