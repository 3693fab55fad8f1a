// Whole runs of the real executable in a fresh temporary directory.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  void write(const std::string& name, const std::string& content) const;
  std::string read(const std::string& name) const;
  bool exists(const std::string& name) const;

 private:
  std::string path_;
};

// Makes `dir` the working directory for the life of the object (the engine reads and writes
// its files there), and goes back afterwards.
class ScopedWorkingDirectory {
 public:
  explicit ScopedWorkingDirectory(const TempDir& dir);
  ~ScopedWorkingDirectory();
  ScopedWorkingDirectory(const ScopedWorkingDirectory&) = delete;
  ScopedWorkingDirectory& operator=(const ScopedWorkingDirectory&) = delete;

 private:
  std::string previous_;
};

struct RunOutcome {
  std::string out;  // standard output, byte for byte
  int status = -1;  // exit status, or -1 when the process did not exit normally
};

// Runs `empricer` in `dir` with `input` on standard input (not a terminal). With a clock
// (start, step), runs the same program with a clock whose k-th reading is start + k * step.
RunOutcome runIn(const TempDir& dir, const std::string& input,
                 std::optional<std::pair<std::int64_t, std::int64_t>> clock = std::nullopt);

// The file's whole content, or nothing when it cannot be read.
std::optional<std::string> readFile(const std::string& path);

// Lines of `text` split at '\n' (a final line end gives no extra empty line).
std::vector<std::string> splitLines(const std::string& text);
