#include "runs/stop.h"

#include <cstdio>
#include <string>
#include <termios.h>
#include <unistd.h>

#include "text/output_file.h"

namespace empricer {

namespace {

void waitForKeyPress() {
  termios saved;
  if (::tcgetattr(STDIN_FILENO, &saved) != 0) return;
  termios raw = saved;
  raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  if (::tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0) {
    char key;
    while (::read(STDIN_FILENO, &key, 1) < 0) {
    }
    ::tcsetattr(STDIN_FILENO, TCSANOW, &saved);
  }
}

Status checked(WriteStatus written) {
  if (written.ok()) return {};
  return standardOutputFailure(written.error);
}

void toStandardError(std::string_view line) {
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fputc('\n', stderr);
  std::fflush(stderr);
}

}  // namespace

Status printLine(std::string_view text) { return checked(writeLine(stdout, text)); }

Status printText(std::string_view text) { return checked(writeText(stdout, text)); }

Status standardOutputWritten() { return checked(streamStatus(stdout)); }

Status pauseForKey() {
  if (Status shown = printText("Press any key to continue . . . "); !shown.ok()) return shown;
  if (::isatty(STDIN_FILENO)) waitForKeyPress();
  return printText("\n");
}

int stopWith(std::string_view message) {
  if (!standardOutputWritten().ok()) {
    toStandardError(message);
    return kFailureStatus;
  }
  Status shown = printText(message);
  if (!shown.ok()) toStandardError(message);
  if (shown.ok()) shown = pauseForKey();
  if (!shown.ok()) toStandardError(shown.message());
  return kFailureStatus;
}

}  // namespace empricer
