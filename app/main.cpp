#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>

#include <string>
#include <vector>

#include "runs/clock.h"
#include "runs/console_input.h"
#include "app/options.h"

using namespace empricer;

namespace {

// Buffers of hundreds of kilobytes that a run takes and gives back are kept in the heap rather
// than mapped afresh each time, so that they are not faulted in again page by page.
void keepFreedBuffers() {
  mallopt(M_MMAP_THRESHOLD, 256 << 20);
  mallopt(M_TRIM_THRESHOLD, 1 << 30);
}

// The exact law and the calibrations take such buffers many times a run, from every thread:
// they come from one heap, whose first 64 MB are asked to be backed by huge pages where the
// system allows it, so that a first touch brings in 2 MB rather than 4 kB. (A simulation's run
// is a few percent slower so, and is left as it is.)
void backBuffersWithHugePages() {
  mallopt(M_ARENA_MAX, 1);
  mallopt(M_TOP_PAD, 64 << 20);
  constexpr std::uintptr_t kHugePage = 2 << 20;
  const auto from = reinterpret_cast<std::uintptr_t>(sbrk(0));
  void* volatile grown = std::malloc(1 << 20);  // grows the heap by the pad
  std::free(grown);
  const auto to = reinterpret_cast<std::uintptr_t>(sbrk(0));
  const std::uintptr_t first = (from + kHugePage - 1) & ~(kHugePage - 1);
  const std::uintptr_t last = to & ~(kHugePage - 1);
  if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
}

}  // namespace

int main(int argc, char** argv) {
  keepFreedBuffers();
  SystemClock clock;
  ConsoleInput console;
  RunTuning tuning;
  tuning.largeBuffers = backBuffersWithHugePages;
  return runWithArguments(std::vector<std::string>(argv + 1, argv + argc), clock, console,
                          tuning);
}
