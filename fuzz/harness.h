// What the fuzz targets share: a private working directory, files written into it, and
// standard output captured per input.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace harness {

[[noreturn]] inline void fail(const char* what, const std::string& detail = "") {
  std::fprintf(stderr, "\nFUZZ CHECK FAILED: %s\n%s\n", what, detail.c_str());
  std::fflush(stderr);
  std::abort();
}

#define FUZZ_CHECK(cond, detail)                          \
  do {                                                    \
    if (!(cond)) ::harness::fail(#cond, (detail));        \
  } while (0)

// The lines of the text, split at LF, CR LF and a lone CR, as the readers split them.
inline std::vector<std::string_view> linesOf(std::string_view text) {
  std::vector<std::string_view> lines;
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r' && text[i] != '\n') continue;
    lines.push_back(text.substr(start, i - start));
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

// The exact bits of a double, for failure messages.
inline std::string hexText(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%a", value);
  return text;
}

inline std::string printable(std::string_view text) {
  std::string out;
  for (unsigned char c : text) {
    if (c >= 0x20 && c < 0x7f && c != '\\') {
      out.push_back(static_cast<char>(c));
    } else {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\x%02x", c);
      out += esc;
    }
  }
  return out;
}

// Once per process: a fresh directory under $TMPDIR (or /tmp) becomes the working directory
// (removed at exit), and standard input reads nothing.
inline void setUpProcess() {
  static bool done = false;
  if (done) return;
  done = true;
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base != nullptr && *base != 0 ? base : "/tmp") +
                        "/empricer-fuzz-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr || ::chdir(pattern.c_str()) != 0) {
    fail("cannot make the working directory", pattern);
  }
  static std::string workDir;
  workDir = pattern;
  std::atexit([] {
    std::error_code ignored;
    std::filesystem::remove_all(workDir, ignored);
  });
  const int devNull = ::open("/dev/null", O_RDONLY);
  if (devNull >= 0) {
    ::dup2(devNull, STDIN_FILENO);
    ::close(devNull);
  }
}

inline void writeFile(const char* name, std::string_view bytes) {
  std::FILE* f = std::fopen(name, "wb");
  if (f == nullptr) fail("cannot write", name);
  if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

inline bool readFile(const char* name, std::string& content) {
  std::FILE* f = std::fopen(name, "rb");
  if (f == nullptr) return false;
  content.clear();
  char block[4096];
  std::size_t got;
  while ((got = std::fread(block, 1, sizeof block, f)) > 0) content.append(block, got);
  std::fclose(f);
  return true;
}

inline bool exists(const char* name) {
  struct stat info;
  return ::stat(name, &info) == 0;
}

// Standard output goes to a file of its own; each input starts it empty and reads it back.
class CapturedOutput {
 public:
  CapturedOutput() {
    std::fflush(stdout);
    char name[] = "/tmp/empricer-fuzz-out-XXXXXX";
    fd_ = ::mkstemp(name);
    if (fd_ < 0) fail("cannot capture standard output");
    ::unlink(name);
    ::dup2(fd_, STDOUT_FILENO);
  }
  void reset() {
    std::fflush(stdout);
    if (::ftruncate(STDOUT_FILENO, 0) != 0) fail("cannot empty the captured output");
    ::lseek(STDOUT_FILENO, 0, SEEK_SET);
  }
  std::string text() {
    std::fflush(stdout);
    std::string out;
    const off_t size = ::lseek(STDOUT_FILENO, 0, SEEK_END);
    out.resize(static_cast<std::size_t>(size));
    if (size > 0 && ::pread(STDOUT_FILENO, out.data(), out.size(), 0) != size) {
      fail("cannot read the captured output");
    }
    return out;
  }

 private:
  int fd_ = -1;
};

// The open descriptors: a run, stopped or not, must close every file it opened.
inline std::set<int> openDescriptors() {
  std::set<int> fds;
  DIR* dir = ::opendir("/proc/self/fd");
  if (dir == nullptr) return fds;
  const int own = ::dirfd(dir);
  while (dirent* entry = ::readdir(dir)) {
    if (entry->d_name[0] == '.') continue;
    const int fd = std::atoi(entry->d_name);
    if (fd != own) fds.insert(fd);
  }
  ::closedir(dir);
  return fds;
}

// Splits the input at `marker` into at most `count` parts; absent parts are reported as such.
struct Parts {
  std::string part[8];
  bool present[8] = {};
};
inline Parts splitInput(std::string_view data, std::string_view marker, int count) {
  Parts parts;
  std::size_t start = 0;
  for (int i = 0; i < count; ++i) {
    const std::size_t at = i + 1 < count ? data.find(marker, start) : std::string_view::npos;
    parts.present[i] = true;
    if (at == std::string_view::npos) {
      parts.part[i] = std::string(data.substr(start));
      break;
    }
    parts.part[i] = std::string(data.substr(start, at - start));
    start = at + marker.size();
  }
  return parts;
}

constexpr const char* kPausePrompt = "Press any key to continue . . . \n";

}  // namespace harness
