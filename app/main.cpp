#include <malloc.h>

#include <string>
#include <vector>

#include "runs/clock.h"
#include "runs/console_input.h"
#include "app/options.h"

using namespace empricer;

int main(int argc, char** argv) {
  // The exact law and the calibrations work in buffers of hundreds of kilobytes, taken and
  // given back many times a run: kept in the heap rather than mapped afresh each time, they
  // are not faulted in again page by page.
  mallopt(M_MMAP_THRESHOLD, 256 << 20);
  mallopt(M_TRIM_THRESHOLD, 1 << 30);
  SystemClock clock;
  ConsoleInput console;
  return runWithArguments(std::vector<std::string>(argv + 1, argv + argc), clock, console);
}
