// The progress line on standard error: the row (i of n) and the share of its trajectories
// done, with an estimate of the time left. It appears only on a terminal, only once the work
// has gone on for a while (a run that ends sooner shows nothing), at most ten times a second,
// and it is erased before anything else is written and when the work ends. Nothing of it ever
// reaches standard output or a file.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>

namespace empricer {

class Progress {
 public:
  // `shown` false: the line never appears. `after`: seconds of work before it may appear.
  Progress(bool shown, double after);
  ~Progress() { clear(); }
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  // Whether the line can appear at all.
  bool enabled() const { return shown_; }
  // Work on row `row` of `rows` (rows 0: a single valuation) begins; the first call starts
  // the clock for the delay and the estimate.
  void startRow(std::int64_t row, std::int64_t rows);
  // The share of the current row's trajectories done so far, from 0 to 1.
  void update(double share);
  // Erases the line, if it stands on the screen.
  void clear();
  // The row last begun (from 1; 0 before the first), as startRow was told it.
  std::int64_t row() const { return row_; }

 private:
  using Time = std::chrono::steady_clock::time_point;
  bool shown_;
  std::chrono::duration<double> after_;
  Time start_;
  Time lastDrawn_;
  bool started_ = false;
  bool drawn_ = false;     // drawn at least once: later draws wait for kRedrawEvery
  bool onScreen_ = false;
  std::int64_t row_ = 0;
  std::int64_t rows_ = 0;
};

// Whether standard error is a terminal.
bool standardErrorIsTerminal();

}  // namespace empricer
