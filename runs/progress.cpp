#include "runs/progress.h"

#include <unistd.h>

#include <string>

#include "text/number_text.h"

namespace empricer {

namespace {

constexpr std::chrono::milliseconds kRedrawEvery{100};

}  // namespace

bool standardErrorIsTerminal() { return ::isatty(STDERR_FILENO) != 0; }

Progress::Progress(bool shown, double after)
    : shown_(shown),
      after_(after),
      start_(std::chrono::steady_clock::now()),
      lastDrawn_(start_) {}

void Progress::startRow(std::int64_t row, std::int64_t rows) {
  if (!started_) {
    started_ = true;
    start_ = std::chrono::steady_clock::now();
  }
  row_ = row;
  rows_ = rows;
}

void Progress::update(double share) {
  if (!shown_ || !started_) return;
  const Time now = std::chrono::steady_clock::now();
  if (now - start_ < after_ || (drawn_ && now - lastDrawn_ < kRedrawEvery)) return;
  drawn_ = true;
  lastDrawn_ = now;

  // The whole run's share: rows done, and this row's part of the next.
  const double done = rows_ > 0 ? (static_cast<double>(row_ - 1) + share) / static_cast<double>(rows_)
                                : share;
  std::string line = "\r";
  if (rows_ > 0) {
    line += "row ";
    appendInteger(line, row_);
    line += " of ";
    appendInteger(line, rows_);
    line += ": ";
  }
  appendInteger(line, static_cast<std::int64_t>(share * 100.0));
  line += "% of the trajectories";
  if (done > 0.0) {
    const double elapsed = std::chrono::duration<double>(now - start_).count();
    const auto left = static_cast<std::int64_t>(elapsed / done - elapsed + 0.5);
    line += ", about ";
    if (left >= 120) {
      appendInteger(line, (left + 30) / 60);
      line += " min left";
    } else {
      appendInteger(line, left);
      line += " s left";
    }
  }
  line += "\x1b[K";  // the rest of an earlier, longer line goes
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
  onScreen_ = true;
}

void Progress::clear() {
  if (!onScreen_) return;
  std::fputs("\r\x1b[K", stderr);
  std::fflush(stderr);
  onScreen_ = false;
}

}  // namespace empricer
