// The last step before the line: framing, and the faults a tester switched on.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

#include "tools/phonesim/protocol.h"

namespace phonesim {

struct WireFaults {
  // Cut every message into pieces of this many bytes; 0 sends messages whole.
  std::size_t splitBytes = 0;
  // Cut every message once, after this many bytes (when it is longer); 0 does not.
  std::size_t cutAt = 0;
  // Between the pieces of a split or cut message.
  std::chrono::milliseconds splitPause{30};
  // Every packet goes out twice, byte for byte.
  bool repeat = false;
  // Packets whose payload starts with one of these letters never reach the line.
  std::string lost;
  // A garbage burst before every packet.
  bool garbage = false;
  // One-shot faults for the next packet.
  bool badMarkerNext = false;
  int badLengthNext = 0;
};

struct Piece {
  std::string bytes;
  std::chrono::milliseconds pauseAfter{0};
};

// The third byte a packet carries when its marker is broken on purpose.
inline constexpr std::uint8_t kBadMarker = 0x15;

// Bytes that start nothing a reader of this protocol looks for (no STX, "A",
// "E" or "O"), so a burst of them between packets spoils none of them.
std::string GarbageBurst();

// The pieces that put message on the line, none for a lost packet. Spends the
// one-shot faults.
std::vector<Piece> Encode(const Message& message, WireFaults& faults);

}  // namespace phonesim
