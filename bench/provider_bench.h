// The provider linked in, opened on one line by a TAPI stand-in that counts what
// it is told, with the phone's packets handed to the line map as the port worker
// hands them over. No COM port is open: commands for the phone go nowhere.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "tapi/tspi.h"

namespace bench {

class InProcessProvider {
 public:
  // Settings are written before the provider starts; Trace is 0 unless given.
  explicit InProcessProvider(Sandbox& sandbox);
  ~InProcessProvider();
  InProcessProvider(const InProcessProvider&) = delete;
  InProcessProvider& operator=(const InProcessProvider&) = delete;

  bool Open();
  // One packet from the phone, through the line map as the port worker gives it.
  void Phone(const std::string& payload);
  // A call-state report with the three slots' states.
  void Report(std::uint8_t slot1, std::uint8_t slot2, std::uint8_t slot3);
  HDRVLINE Line() const { return hdLine_; }
  // The newest call TAPI was told of (LINE_NEWCALL) and the last state it was
  // told for it (0 before the first), as one snapshot.
  struct Newest {
    HDRVCALL call;
    DWORD state;
  };
  static Newest NewestCall();
  static long CallStates();
  static long Events();

 private:
  HDRVLINE hdLine_ = nullptr;
  bool initialised_ = false;
};

}  // namespace bench
