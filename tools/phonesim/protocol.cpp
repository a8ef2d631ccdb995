#include "tools/phonesim/protocol.h"

#include <cstdio>

namespace phonesim {
namespace {

constexpr std::uint8_t kEtx = 0x03;

std::string Hex2(unsigned value) {
  char text[3];
  std::snprintf(text, sizeof text, "%02X", value & 0xFFu);
  return text;
}

// The phone carries a value in the low four bits of each byte, high digit
// first, as 0x30 + the digit: "0" to "9", then ":" to "?".
std::string NibbleDigits(unsigned value) {
  return {static_cast<char>(0x30 + ((value >> 4) & 0x0Fu)), static_cast<char>(0x30 + (value & 0x0Fu))};
}

}  // namespace

std::string ReportPayload(const Slots& slots) {
  return std::string{'C', static_cast<char>(slots[0]), static_cast<char>(slots[1]), static_cast<char>(slots[2])};
}

std::string CausePayload(int cause) { return "S" + NibbleDigits(static_cast<unsigned>(cause)); }

std::string IncomingPayload(const std::string& calling, const std::string& called) {
  return "A" + calling + ":" + called;
}

std::string ConnectedPayload(const std::string& number) { return "V" + number; }

std::string ChargePayload(const std::string& text) { return "G" + text; }

std::string NoticePayload(int slot, int cause) {
  return "L" + std::string(1, static_cast<char>('0' + slot)) + NibbleDigits(static_cast<unsigned>(cause));
}

std::string Frame(const std::string& payload, std::uint8_t marker, int lengthDelta) {
  const std::string body = payload.substr(0, kMaxPayload);
  unsigned sum = 0;
  for (const char c : body) sum += static_cast<std::uint8_t>(c);
  std::string frame;
  frame.reserve(body.size() + 5);
  frame += static_cast<char>(kStx);
  frame += static_cast<char>((static_cast<int>(body.size()) + lengthDelta) & 0xFF);
  frame += static_cast<char>(marker);
  frame += body;
  frame += static_cast<char>(sum & 0xFF);
  frame += static_cast<char>(kEtx);
  return frame;
}

int DecodeCause(char high, char low) {
  return static_cast<int>((static_cast<unsigned>(high) & 0x0Fu) * 16 + (static_cast<unsigned>(low) & 0x0Fu));
}

std::string StateName(std::uint8_t state) {
  switch (state) {
    case kFree:
      return "free";
    case kDisconnected:
      return "DISC_IND";
    case 2:
    case 13:
      return "disconnected";
    case kSetup:
      return "SETUP";
    case kOffered:
      return "OFFERED";
    case kDialing:
      return "DIALING";
    case kConnected:
      return "CONNECTED";
    case kHeld:
      return "HELD";
    case kWaiting:
      return "WAITING";
    default:
      return "state 0x" + Hex2(state);
  }
}

std::string CauseName(int cause) {
  switch (cause) {
    case 0:
      return "no cause";
    case cause::kUnallocatedNumber:
      return "unallocated number";
    case 2:
      return "no route to transit network";
    case 3:
      return "no route to destination";
    case cause::kNormalClearing:
      return "normal call clearing";
    case cause::kUserBusy:
      return "user busy";
    case cause::kNoUserResponding:
      return "no user responding";
    case cause::kNoAnswer:
      return "no answer from user";
    case cause::kCallRejected:
      return "call rejected";
    case 22:
      return "number changed";
    case 27:
      return "destination out of order";
    case 28:
      return "invalid number format";
    case 31:
      return "normal, unspecified";
    case 34:
      return "no circuit available";
    case 38:
      return "network out of order";
    case 41:
      return "temporary failure";
    case 42:
      return "switching equipment congestion";
    case 49:
      return "quality of service not available";
    case 88:
      return "incompatible destination";
    default:
      return "cause " + std::to_string(cause);
  }
}

std::string Printable(const std::string& bytes) {
  std::string text;
  for (const char c : bytes) {
    const auto byte = static_cast<std::uint8_t>(c);
    if (byte >= 0x20 && byte < 0x7F && c != '\\') {
      text += c;
    } else {
      text += "\\x" + Hex2(byte);
    }
  }
  return text;
}

std::string Describe(const Message& message) {
  const std::string& bytes = message.bytes;
  switch (message.kind) {
    case Message::Kind::kText: {
      std::string line = bytes;
      while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
      return line.size() > 60 ? Printable(line.substr(0, 40)) + "... (" + std::to_string(line.size()) + " characters)"
                              : Printable(line);
    }
    case Message::Kind::kRaw: {
      std::string text = "raw";
      for (const char c : bytes) text += " " + Hex2(static_cast<std::uint8_t>(c));
      return text;
    }
    case Message::Kind::kPacket:
      break;
  }
  if (bytes.size() == 4 && bytes[0] == 'C') {
    std::string text = "C";
    for (std::size_t i = 1; i < 4; ++i) text += " " + Hex2(static_cast<std::uint8_t>(bytes[i]));
    return text;
  }
  if (bytes.size() == 3 && bytes[0] == 'S') {
    const int value = DecodeCause(bytes[1], bytes[2]);
    return bytes + " cause " + std::to_string(value) + " " + CauseName(value);
  }
  return Printable(bytes);
}

}  // namespace phonesim
