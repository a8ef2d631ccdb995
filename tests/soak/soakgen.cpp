// soakgen: writes the soak scenario for a seed and a number of call cycles.
//   soakgen [--seed S] [--calls N] [--faults PERCENT] > soak.scenario
#include <charconv>
#include <cstring>
#include <iostream>
#include <string>

#include "tests/soak/soak_scenario.h"

namespace {

template <typename Number>
bool Read(const char* text, Number* value) {
  const char* end = text + std::strlen(text);
  const auto parsed = std::from_chars(text, end, *value);
  return parsed.ec == std::errc() && parsed.ptr == end;
}

}  // namespace

int main(int argc, char** argv) {
  soak::Plan plan;
  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
    bool ok = value != nullptr;
    if (ok && option == "--seed") {
      ok = Read(value, &plan.seed);
    } else if (ok && option == "--calls") {
      ok = Read(value, &plan.calls) && plan.calls > 0;
    } else if (ok && option == "--faults") {
      ok = Read(value, &plan.faultPercent) && plan.faultPercent <= 100;
    } else {
      ok = false;
    }
    if (!ok) {
      std::cerr << "usage: soakgen [--seed S] [--calls N] [--faults PERCENT]\n";
      return 2;
    }
    ++i;
  }
  soak::WriteScenario(plan, std::cout);
  return std::cout ? 0 : 1;
}
