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

// The exact law and the calibrations work in buffers of hundreds of kilobytes, taken and given
// back many times a run, from every thread: they are kept in one heap rather than mapped
// afresh each time, and the heap's first 64 MB are asked to be backed by huge pages where the
// system allows it, so that a first touch brings in 2 MB rather than 4 kB.
void keepBuffersInTheHeap() {
  mallopt(M_MMAP_THRESHOLD, 256 << 20);
  mallopt(M_TRIM_THRESHOLD, 1 << 30);
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
  keepBuffersInTheHeap();
  SystemClock clock;
  ConsoleInput console;
  return runWithArguments(std::vector<std::string>(argv + 1, argv + argc), clock, console);
}
