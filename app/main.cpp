#include <string>
#include <vector>

#include "app/clock.h"
#include "app/console_input.h"
#include "app/options.h"

using namespace empricer;

int main(int argc, char** argv) {
  SystemClock clock;
  ConsoleInput console;
  return runWithArguments(std::vector<std::string>(argv + 1, argv + argc), clock, console);
}
