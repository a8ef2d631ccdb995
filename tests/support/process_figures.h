// What a process holds right now, for suites that prove nothing grows:
// threads, open handles (file descriptors on POSIX), resident memory and the
// bytes allocated from the heaps (exact where resident memory moves in pages).
#pragma once

#include <cstdint>

namespace testing_support {

struct ProcessFigures {
  int threads = 0;
  int handles = 0;
  std::uint64_t residentKiB = 0;
  std::uint64_t heapBytes = 0;
};

ProcessFigures CurrentProcessFigures();

}  // namespace testing_support
