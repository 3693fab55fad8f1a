#include "run_support.h"

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

TempDir::TempDir() {
  char pattern[] = "/tmp/empricer-test-XXXXXX";
  const char* made = ::mkdtemp(pattern);
  if (made == nullptr) std::abort();
  path_ = made;
}

TempDir::~TempDir() {
  std::error_code ignored;
  // Directories made read-only by a test must become writable again to be removed.
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ignored);
  std::filesystem::remove_all(path_, ignored);
}

void TempDir::write(const std::string& name, const std::string& content) const {
  std::ofstream out(file(name), std::ios::binary | std::ios::trunc);
  out << content;
}

std::string TempDir::read(const std::string& name) const {
  return readFile(file(name)).value_or("");
}

bool TempDir::exists(const std::string& name) const {
  return std::filesystem::exists(file(name));
}

ScopedWorkingDirectory::ScopedWorkingDirectory(const TempDir& dir)
    : previous_(std::filesystem::current_path().string()) {
  std::filesystem::current_path(dir.path());
}

ScopedWorkingDirectory::~ScopedWorkingDirectory() {
  std::error_code ignored;
  std::filesystem::current_path(previous_, ignored);
}

std::optional<std::string> readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find('\n', start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

RunOutcome runIn(const TempDir& dir, const std::string& input,
                 std::optional<std::pair<std::int64_t, std::int64_t>> clock) {
  const std::string inPath = dir.path() + "/../" +
                             std::filesystem::path(dir.path()).filename().string() + ".stdin";
  const std::string outPath = dir.path() + "/../" +
                              std::filesystem::path(dir.path()).filename().string() + ".stdout";
  {
    std::ofstream in(inPath, std::ios::binary | std::ios::trunc);
    in << input;
  }
  RunOutcome outcome;
  const pid_t child = ::fork();
  if (child == 0) {
    const int inFd = ::open(inPath.c_str(), O_RDONLY);
    const int outFd = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (inFd < 0 || outFd < 0 || ::chdir(dir.path().c_str()) != 0) ::_exit(127);
    ::dup2(inFd, 0);
    ::dup2(outFd, 1);
    if (clock) {
      const std::string start = std::to_string(clock->first);
      const std::string step = std::to_string(clock->second);
      ::execl(EMPRICER_CLOCKED_BINARY, EMPRICER_CLOCKED_BINARY, start.c_str(), step.c_str(),
              static_cast<char*>(nullptr));
    } else {
      ::execl(EMPRICER_BINARY, EMPRICER_BINARY, static_cast<char*>(nullptr));
    }
    ::_exit(127);
  }
  int waitStatus = 0;
  ::waitpid(child, &waitStatus, 0);
  outcome.status = WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : -1;
  outcome.out = readFile(outPath).value_or("");
  std::remove(inPath.c_str());
  std::remove(outPath.c_str());
  return outcome;
}
