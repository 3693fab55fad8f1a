#include "app/clock.h"
#include "app/console_input.h"
#include "app/runs.h"

int main() {
  SystemClock clock;
  ConsoleInput console;
  return runProgram(clock, console);
}
