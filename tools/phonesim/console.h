// The simulator's command language for a person or a script: one command per
// line ("ring 0301234 10", "busy", "hangup 1 16", "split on"), see README.md.
#pragma once

#include <cstddef>
#include <string>

#include "tools/phonesim/simulator.h"

namespace phonesim {

class Console {
 public:
  explicit Console(Simulator& simulator) : simulator_(simulator) {}

  // Carries out one command line and returns what to show (possibly several
  // lines, no trailing newline; empty for a blank line or a comment).
  std::string Execute(const std::string& line);
  // True once "quit" was given.
  bool quit() const { return quit_; }

  static std::string Help();

 private:
  std::string State() const;
  std::string Wait(const std::string& pattern, long milliseconds);

  Simulator& simulator_;
  bool quit_ = false;
  // "wait" looks only at command lines after the one its previous match found.
  std::size_t waitFrom_ = 0;
};

}  // namespace phonesim
