#include "input/stop.h"

#include <cstdlib>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace {

StopHandler stopHandler = nullptr;

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

[[noreturn]] void stopOnOpenFailure(std::string_view fileName) {
  std::string message = "Error opening file: ";
  message.append(fileName);
  stopProgram(message);
}

}  // namespace

void pauseForKey() {
  std::fputs("Press any key to continue . . . ", stdout);
  std::fflush(stdout);
  if (::isatty(STDIN_FILENO)) waitForKeyPress();
  std::fputs("\n", stdout);
  std::fflush(stdout);
}

void stopProgram(std::string_view message) {
  std::fwrite(message.data(), 1, message.size(), stdout);
  std::fflush(stdout);
  pauseForKey();
  if (stopHandler != nullptr) stopHandler(1);
  std::exit(1);
}

void setStopHandler(StopHandler handler) { stopHandler = handler; }

void requireOpen(const InputStream& stream, std::string_view fileName) {
  if (!isOpen(stream)) stopOnOpenFailure(fileName);
}

void requireOpen(std::FILE* stream, std::string_view fileName) {
  if (stream == nullptr) stopOnOpenFailure(fileName);
}
