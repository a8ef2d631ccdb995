#include "tools/phonesim/transmitter.h"

namespace phonesim {

std::string GarbageBurst() {
  static const unsigned char kBurst[] = {0x00, 0xFF, 'x', '?', 0x7F, 0x1B, '\n', 0x80, '#', 0x14, 'Z', '\r'};
  return std::string(reinterpret_cast<const char*>(kBurst), sizeof kBurst);
}

std::vector<Piece> Encode(const Message& message, WireFaults& faults) {
  std::string bytes;
  if (message.kind == Message::Kind::kPacket) {
    if (faults.garbage) bytes = GarbageBurst();
    bytes += Frame(message.bytes, faults.badMarkerNext ? kBadMarker : kMarker, faults.badLengthNext);
    faults.badMarkerNext = false;
    faults.badLengthNext = 0;
  } else {
    bytes = message.bytes;
  }
  if (faults.splitBytes == 0 || bytes.size() <= faults.splitBytes) return {Piece{std::move(bytes), {}}};
  std::vector<Piece> pieces;
  for (std::size_t at = 0; at < bytes.size(); at += faults.splitBytes) {
    pieces.push_back(Piece{bytes.substr(at, faults.splitBytes), faults.splitPause});
  }
  pieces.back().pauseAfter = std::chrono::milliseconds{0};
  return pieces;
}

}  // namespace phonesim
