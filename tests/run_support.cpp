#include "run_support.h"
#include "value_support.h"

#include <atomic>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>


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

std::vector<std::string> TempDir::names() const {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(path_)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

ScopedWorkingDirectory::ScopedWorkingDirectory(const TempDir& dir)
    : previous_(std::filesystem::current_path().string()) {
  std::filesystem::current_path(dir.path());
}

ScopedWorkingDirectory::~ScopedWorkingDirectory() {
  std::error_code ignored;
  std::filesystem::current_path(previous_, ignored);
}

namespace {

// Opens `path` at a descriptor above 2, so that setting up descriptors 0 to 2 cannot close it
// even when the test process runs with some of them closed; it closes itself at exec.
int openAboveStandardStreams(const std::string& path, int flags) {
  const int fd = ::open(path.c_str(), flags | O_CLOEXEC, 0644);
  if (fd < 0 || fd > 2) return fd;
  const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
  ::close(fd);
  return moved;
}

// Each run's standard streams go to files of their own, also for runs in one folder.
std::atomic<int> startedRuns{0};

}  // namespace

StartedRun::StartedRun(const TempDir& dir, const RunOptions& options)
    : capture_(dir.path() + ".run" + std::to_string(startedRuns.fetch_add(1))) {
  const std::string inPath = capture_ + ".stdin";
  const std::string outPath = capture_ + ".stdout";
  const std::string errPath = capture_ + ".stderr";
  if (options.input) {
    std::ofstream in(inPath, std::ios::binary | std::ios::trunc);
    in << *options.input;
  }
  std::vector<std::string> words = {!options.program.empty() ? options.program
                                    : options.clock        ? EMPRICER_CLOCKED_BINARY
                                                           : EMPRICER_BINARY};
  if (options.clock && options.program.empty()) {
    words.push_back(std::to_string(options.clock->start));
    words.push_back(std::to_string(options.clock->step));
  }
  words.insert(words.end(), options.arguments.begin(), options.arguments.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);

  int terminalSide = -1;
  if (options.errorOnTerminal && ::openpty(&terminal_, &terminalSide, nullptr, nullptr, nullptr) != 0) {
    std::abort();
  }
  child_ = ::fork();
  if (child_ < 0) std::abort();
  if (child_ != 0) {
    if (terminalSide >= 0) ::close(terminalSide);
    return;
  }
  if (terminal_ >= 0) ::close(terminal_);
  const int out = openAboveStandardStreams(outPath, O_WRONLY | O_CREAT | O_TRUNC);
  const int err = terminalSide >= 0 ? terminalSide
                                    : openAboveStandardStreams(errPath, O_WRONLY | O_CREAT | O_TRUNC);
  const int in = options.input ? openAboveStandardStreams(inPath, O_RDONLY) : -1;
  if (out < 0 || err < 0 || (options.input && in < 0) || ::chdir(dir.path().c_str()) != 0) {
    ::_exit(127);
  }
  ::dup2(out, STDOUT_FILENO);
  ::dup2(err, STDERR_FILENO);
  if (in >= 0) {
    ::dup2(in, STDIN_FILENO);
  } else {
    ::close(STDIN_FILENO);
  }
  ::execv(argv[0], argv.data());
  ::_exit(127);
}

StartedRun::~StartedRun() {
  if (!waitStatus_) {
    kill();
    wait();
  }
  if (terminal_ >= 0) ::close(terminal_);
  for (const char* stream : {".stdin", ".stdout", ".stderr"}) {
    std::remove((capture_ + stream).c_str());
  }
}

bool StartedRun::ended() {
  int status = 0;
  if (!waitStatus_ && ::waitpid(child_, &status, WNOHANG) == child_) waitStatus_ = status;
  return waitStatus_.has_value();
}

void StartedRun::kill() { sendSignal(SIGKILL); }

std::string StartedRun::errorSoFar() const {
  return readFile(capture_ + ".stderr").value_or("");
}

void StartedRun::sendSignal(int signal) {
  if (!waitStatus_) ::kill(child_, signal);
}

void StartedRun::drainTerminal(int milliseconds) {
  pollfd ready{terminal_, POLLIN, 0};
  while (::poll(&ready, 1, milliseconds) > 0 && (ready.revents & POLLIN) != 0) {
    char buffer[4096];
    const ssize_t got = ::read(terminal_, buffer, sizeof buffer);
    if (got <= 0) return;  // the program's side is closed
    terminalText_.append(buffer, static_cast<std::size_t>(got));
    milliseconds = 0;
  }
}

RunOutcome StartedRun::wait() {
  // A terminal must be read while the program runs, or its writes would block once the
  // terminal's buffer is full.
  while (terminal_ >= 0 && !ended()) drainTerminal(20);
  if (!waitStatus_) {
    int status = 0;
    ::waitpid(child_, &status, 0);
    waitStatus_ = status;
  }
  if (terminal_ >= 0) drainTerminal(0);
  RunOutcome outcome;
  outcome.status = WIFEXITED(*waitStatus_) ? WEXITSTATUS(*waitStatus_) : -1;
  outcome.signal = WIFSIGNALED(*waitStatus_) ? WTERMSIG(*waitStatus_) : 0;
  outcome.out = readFile(capture_ + ".stdout").value_or("");
  outcome.err = terminal_ >= 0 ? terminalText_ : readFile(capture_ + ".stderr").value_or("");
  return outcome;
}

RunOutcome runIn(const TempDir& dir, const RunOptions& options) {
  return StartedRun(dir, options).wait();
}

RunOutcome runDistIn(const TempDir& dir, const std::vector<std::string>& arguments) {
  return runIn(dir, {.arguments = arguments, .program = kDistProgram});
}

std::string bannerText(const std::string& rate, int trajectories) {
  return "PARAMETERS:\nRisk Free Rate:       " + rate + "\nNum of Trajectories:  " +
         std::to_string(trajectories) + "\n\n";
}

std::string setupText(const SetupFile& file) {
  std::string text = file.runMode.empty() ? "" : "1 RunMode " + file.runMode + "\n";
  text += "2 Trajectories " + std::to_string(file.trajectories) + "\n3 RiskFreeRate " +
          file.rate + "\n4 StepScale 1\n5 Shifts 1.02 0.98 1.01 0.99\n";
  if (file.pauseAtEnd) text += "6 PauseAtEnd 1\n";
  if (file.probabilities) text += "7 WinningProb 1\n";
  return text + file.moreLines;
}

std::optional<std::string> readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

std::vector<std::string> fieldsOf(const std::string& line, char delimiter) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = line.find(delimiter, start);
    parts.push_back(line.substr(start, end - start));
    if (end == std::string::npos) return parts;
    start = end + 1;
  }
}

std::map<std::string, ResultsLine> resultsByLine(const std::string& text) {
  const std::vector<std::string> lines = splitLines(text);
  const std::vector<std::string> names = fieldsOf(lines.at(0));
  std::map<std::string, ResultsLine> out;
  for (std::size_t i = 1; i < lines.size(); ++i) {
    const std::vector<std::string> f = fieldsOf(lines[i]);
    ResultsLine line;
    for (std::size_t k = 0; k < names.size() && k < f.size(); ++k) line[names[k]] = f[k];
    out[f[0] + "," + f[1]] = line;
  }
  return out;
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

bool waitFor(const std::function<bool()>& ready) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!ready()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

void writeBellInputs(const TempDir& dir, const SetupFile& setup, const std::string& batch) {
  dir.write("Setup.txt", setupText(setup));
  dir.write("dist.csv", bellDistribution(41, 0.004));
  dir.write("batch.csv", batch);
}
