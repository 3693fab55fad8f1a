#include "app/stop.h"

#include <cstdio>
#include <termios.h>
#include <unistd.h>

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

}  // namespace

void pauseForKey() {
  std::fputs("Press any key to continue . . . ", stdout);
  std::fflush(stdout);
  if (::isatty(STDIN_FILENO)) waitForKeyPress();
  std::fputs("\n", stdout);
  std::fflush(stdout);
}

int stopWith(std::string_view message) {
  std::fwrite(message.data(), 1, message.size(), stdout);
  std::fflush(stdout);
  pauseForKey();
  return kStoppedStatus;
}
