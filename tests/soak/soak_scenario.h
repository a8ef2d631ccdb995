// The soak as a tsphost scenario: a long run of mixed call cycles (outgoing,
// incoming, busy, hold and retrieve, blind and consultation transfer, charges)
// with faults on the line thrown in at random. The same seed gives the same
// scenario on every machine, so a failing run can be replayed.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

namespace soak {

// A small generator of our own: the standard distributions may differ between
// libraries, and a seed has to mean the same run everywhere.
class Random {
 public:
  explicit Random(std::uint64_t seed) : state_(seed) {}
  std::uint64_t Next();
  // 0 to bound - 1; bound > 0.
  std::uint32_t Below(std::uint32_t bound);
  bool Chance(std::uint32_t percent) { return Below(100) < percent; }

 private:
  std::uint64_t state_;
};

struct Plan {
  std::uint64_t seed = 1;
  int calls = 300;
  // Of every hundred call cycles, how many carry a fault.
  std::uint32_t faultPercent = 35;
};

// Writes the scenario. Each cycle ends with every call released and the line
// idle, then "say soak: call N done (KIND)" and "forget"; each fault is announced by
// "say soak fault: KIND" before it is injected, and the run ends with "requests".
void WriteScenario(const Plan& plan, std::ostream& out);

}  // namespace soak
