// The program with a clock that starts at argv[1] seconds and moves argv[2] seconds per
// reading, so that whole runs can be replayed exactly.
#include <cstdlib>

#include "app/clock.h"
#include "app/console_input.h"
#include "app/runs.h"

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  SteppingClock clock(std::strtoll(argv[1], nullptr, 10), std::strtoll(argv[2], nullptr, 10));
  ConsoleInput console;
  return runProgram(clock, console);
}
