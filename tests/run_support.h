// Whole runs of the real executable in a fresh temporary directory, and the files they read.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <map>
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
  // The names in the directory, sorted.
  std::vector<std::string> names() const;

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

// A clock whose k-th reading is start + k * step.
struct ReplayClock {
  std::int64_t start = 0;
  std::int64_t step = 0;
};

// Reads the same second every time: every elapsed time is 0.
inline constexpr ReplayClock kStillClock{1700000000, 0};

// Every member has an initializer (even `{}`), so designated initializers may leave any out.
struct RunOptions {
  // The bytes on standard input (never a terminal); nothing: standard input closed.
  std::optional<std::string> input = std::string();
  // With a clock, the program built with a replayable clock runs, with start and step as its
  // first two arguments; without, the program itself, on the system clock.
  std::optional<ReplayClock> clock{};
  // Appended to the command line, after the clock's two arguments.
  std::vector<std::string> arguments{};
  // Standard error is a pseudo-terminal, as on a user's screen; what the program writes to
  // it is collected as `err` all the same.
  bool errorOnTerminal = false;
  // Another program to run instead, such as kDistProgram; the clock then goes unused.
  std::string program{};
};

// empricer-dist, which makes dist.csv from a price history.
inline const std::string kDistProgram = EMPRICER_DIST_BINARY;

struct RunOutcome {
  std::string out;  // standard output, byte for byte
  std::string err;  // standard error
  int status = -1;  // exit status, or -1 when the process did not exit normally
  int signal = 0;   // the signal that ended it, when one did
};

// The program started in `dir`, not waited for. A run still going when the object ends is
// killed.
class StartedRun {
 public:
  StartedRun(const TempDir& dir, const RunOptions& options);
  ~StartedRun();
  StartedRun(const StartedRun&) = delete;
  StartedRun& operator=(const StartedRun&) = delete;

  // Whether the program has ended, without waiting.
  bool ended();
  void kill();
  // Sends `signal` to the program, when it is still going.
  void sendSignal(int signal);
  // What the program has written to standard error so far (not on a terminal).
  std::string errorSoFar() const;
  // Waits for the end and collects what the program wrote.
  RunOutcome wait();

 private:
  // Reads what the terminal holds into `terminalText_`, waiting up to `milliseconds`.
  void drainTerminal(int milliseconds);

  std::string capture_;  // path prefix of the standard input, output and error files
  pid_t child_ = -1;
  std::optional<int> waitStatus_;
  int terminal_ = -1;  // the pseudo-terminal's controlling side, with errorOnTerminal
  std::string terminalText_;
};

// Runs the program in `dir` to its end.
RunOutcome runIn(const TempDir& dir, const RunOptions& options);
// Runs empricer-dist in `dir` with `arguments`, standard input empty.
RunOutcome runDistIn(const TempDir& dir, const std::vector<std::string>& arguments);

// What a stop writes after its message, and what the pause at the end writes.
inline const std::string kPauseLine = "Press any key to continue . . . \n";

// The banner every run writes once the settings are read.
std::string bannerText(const std::string& rate, int trajectories);

// A settings file. Every file has the lines for keys 2 to 5, with the shift factors
// 1.02 0.98 1.01 0.99 and a step scale of 1. Like RunOptions, every member has an initializer.
struct SetupFile {
  std::string runMode{};       // key 1; empty: no key-1 line, so the run mode is asked
  int trajectories = 2;        // key 2
  std::string rate = "0";      // key 3
  bool pauseAtEnd = false;     // a key-6 line with the value 1; none when false
  bool probabilities = false;  // the same for key 7
  std::string moreLines{};     // appended as they are; a later line for keys 1 to 5 wins
};
std::string setupText(const SetupFile& file);

// The file's whole content, or nothing when it cannot be read.
std::optional<std::string> readFile(const std::string& path);

// Lines of `text` split at '\n' (a final line end gives no extra empty line).
std::vector<std::string> splitLines(const std::string& text);

// The fields of `line` between its `delimiter`s, empty ones included (n delimiters, n + 1
// fields).
std::vector<std::string> fieldsOf(const std::string& line, char delimiter = ',');

// A results file's lines, keyed "row,path", each by column name.
using ResultsLine = std::map<std::string, std::string>;
std::map<std::string, ResultsLine> resultsByLine(const std::string& text);

// Waits up to 60 s for `ready`; whether it came.
bool waitFor(const std::function<bool()>& ready);

// Setup.txt from `setup`, a bell of 41 rows over +-0.004 as dist.csv, and `batch` as batch.csv.
void writeBellInputs(const TempDir& dir, const SetupFile& setup, const std::string& batch);
