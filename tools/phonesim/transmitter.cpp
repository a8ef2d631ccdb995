#include "tools/phonesim/transmitter.h"

namespace phonesim {

std::string GarbageBurst() {
  static const unsigned char kBurst[] = {0x00, 0xFF, 'x', '?', 0x7F, 0x1B, '\n', 0x80, '#', 0x14, 'Z', '\r'};
  return std::string(reinterpret_cast<const char*>(kBurst), sizeof kBurst);
}

namespace {

void Cut(const std::string& bytes, const WireFaults& faults, std::vector<Piece>* pieces) {
  if (faults.splitBytes > 0 && bytes.size() > faults.splitBytes) {
    for (std::size_t at = 0; at < bytes.size(); at += faults.splitBytes) {
      pieces->push_back(Piece{bytes.substr(at, faults.splitBytes), faults.splitPause});
    }
  } else if (faults.splitBytes == 0 && faults.cutAt > 0 && bytes.size() > faults.cutAt) {
    pieces->push_back(Piece{bytes.substr(0, faults.cutAt), faults.splitPause});
    pieces->push_back(Piece{bytes.substr(faults.cutAt), faults.splitPause});
  } else {
    pieces->push_back(Piece{bytes, faults.splitPause});
  }
}

}  // namespace

std::vector<Piece> Encode(const Message& message, WireFaults& faults) {
  const bool packet = message.kind == Message::Kind::kPacket;
  if (packet && !message.bytes.empty() && faults.lost.find(message.bytes[0]) != std::string::npos) return {};
  std::string bytes;
  if (packet) {
    if (faults.garbage) bytes = GarbageBurst();
    bytes += Frame(message.bytes, faults.badMarkerNext ? kBadMarker : kMarker, faults.badLengthNext);
    faults.badMarkerNext = false;
    faults.badLengthNext = 0;
  } else {
    bytes = message.bytes;
  }
  std::vector<Piece> pieces;
  Cut(bytes, faults, &pieces);
  if (packet && faults.repeat) Cut(bytes, faults, &pieces);
  // The pause belongs between the pieces of what goes out now, not after it.
  pieces.back().pauseAfter = std::chrono::milliseconds{0};
  return pieces;
}

}  // namespace phonesim
