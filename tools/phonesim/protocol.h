// What the phone puts on the line: text replies and framed binary packets, the
// slot states it reports and the ISDN causes it passes on.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace phonesim {

// Slot states as the phone reports them in a "C" packet.
inline constexpr std::uint8_t kFree = 0xFF;
inline constexpr std::uint8_t kDisconnected = 1;  // far end gone, slot not yet released
inline constexpr std::uint8_t kSetup = 3;
inline constexpr std::uint8_t kOffered = 4;
inline constexpr std::uint8_t kDialing = 5;
inline constexpr std::uint8_t kConnected = 6;
inline constexpr std::uint8_t kHeld = 7;
inline constexpr std::uint8_t kWaiting = 10;  // offered while another call is in progress

using Slots = std::array<std::uint8_t, 3>;
inline constexpr Slots kAllFree = {kFree, kFree, kFree};

// ISDN cause values (Q.931) the network gives.
namespace cause {
inline constexpr int kUnallocatedNumber = 1;
inline constexpr int kNormalClearing = 16;
inline constexpr int kUserBusy = 17;
inline constexpr int kNoUserResponding = 18;
inline constexpr int kNoAnswer = 19;
inline constexpr int kCallRejected = 21;
}  // namespace cause

inline constexpr std::uint8_t kStx = 0x02;
inline constexpr std::uint8_t kMarker = 0x14;
// Longest payload a length byte can announce.
inline constexpr std::size_t kMaxPayload = 255;

struct Message {
  enum class Kind {
    kText,    // an echo or a result line, sent as it is
    kPacket,  // a payload, framed on the way out
    kRaw,     // bytes a tester asked for, sent as they are
  };
  Kind kind = Kind::kText;
  std::string bytes;

  static Message Text(std::string text) { return {Kind::kText, std::move(text)}; }
  static Message Packet(std::string payload) { return {Kind::kPacket, std::move(payload)}; }
  static Message Raw(std::string bytes) { return {Kind::kRaw, std::move(bytes)}; }
  bool operator==(const Message&) const = default;
};

std::string ReportPayload(const Slots& slots);
// "S" and the cause as two digits, each 0x30 + one hex digit of it, high first:
// 17 gives "S11", 27 gives "S1;".
std::string CausePayload(int cause);
// A cause from those two digits: each byte gives its low four bits.
int DecodeCause(char high, char low);
std::string IncomingPayload(const std::string& calling, const std::string& called);
std::string ConnectedPayload(const std::string& number);
std::string ChargePayload(const std::string& text);
// "L", the slot digit and the cause as in "S": always four bytes.
std::string NoticePayload(int slot, int cause);

// STX, length, marker, payload, then a trailer of the payload's 8-bit sum and
// ETX. marker and lengthDelta exist to break frames on purpose. Payloads longer
// than a length byte can say are cut to kMaxPayload.
std::string Frame(const std::string& payload, std::uint8_t marker = kMarker, int lengthDelta = 0);

// For people watching: "SETUP", "CONNECTED", "state 0x20".
std::string StateName(std::uint8_t state);
std::string CauseName(int cause);
// A message as a line of the monitor: "C 06 FF FF", "S11 cause 17 user busy", "OK".
std::string Describe(const Message& message);
// Non-printable bytes as \xNN.
std::string Printable(const std::string& bytes);

}  // namespace phonesim
