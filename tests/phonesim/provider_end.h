// The provider's end of the simulator's line, driven as the provider drives it:
// the COM port opened through the platform's serial port, command lines written
// a byte at a time with the provider's pauses, and the replies cut into text
// lines and packets by a decoder of the tests' own.
#pragma once

#include <chrono>
#include <cstddef>
#include <deque>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "platform/serial.h"

namespace phonesim_test {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

struct Item {
  enum class Kind { kLine, kPacket };
  Kind kind;
  std::string bytes;  // a text line without CR and LF, or a packet's payload
  bool operator==(const Item&) const = default;
};

void PrintTo(const Item& item, std::ostream* out);

Item Line(std::string text);
Item Packet(std::string payload);
std::string Report(unsigned char slot1, unsigned char slot2, unsigned char slot3);

// STX, length, 0x14, payload, two trailer bytes. Printable bytes up to CR make a
// text line; any other byte outside a packet ends the line it interrupts.
class FrameDecoder {
 public:
  void Feed(const std::string& bytes);
  std::deque<Item> items;

 private:
  enum class State { kText, kLength, kMarker, kPayload, kTrailer };
  State state_ = State::kText;
  std::string text_;
  std::string payload_;
  std::size_t length_ = 0;
  int trailerLeft_ = 0;
};

class ProviderEnd {
 public:
  explicit ProviderEnd(std::string comName = "COM3") : comName_(std::move(comName)) {}

  // Opens and sets up the port as the provider does: 0 or the system error code.
  std::uint32_t Open();
  void Close();

  // Writes a line and its CR with the provider's pacing: 20 ms after a byte, 50
  // ms after CR or LF.
  void Send(const std::string& line);
  // The same bytes in one go, no pauses.
  void SendAtOnce(const std::string& bytes);

  // The next text line or packet, within the time-out.
  std::optional<Item> Next(std::chrono::milliseconds timeout = 5s);
  // The next packet, text lines skipped.
  std::optional<std::string> NextPacket(std::chrono::milliseconds timeout = 5s);
  // Items until a line "OK" or "ERROR" (included), which must come within the time-out.
  std::vector<Item> UntilResult(std::chrono::milliseconds timeout = 5s);

  // Waits until the bytes received so far contain bytes.
  bool ReceiveUntil(const std::string& bytes, std::chrono::milliseconds timeout = 5s);

  // Every byte received so far, and when it was taken off the line.
  const std::string& raw() const { return raw_; }
  const std::vector<Clock::time_point>& arrivals() const { return arrivals_; }

 private:
  void Pump();
  // Items up to the first for which last holds (included), or all that came within the time-out.
  std::vector<Item> Until(const std::function<bool(const Item&)>& last, std::chrono::milliseconds timeout);

  std::string comName_;
  platform::SerialPort port_;
  FrameDecoder decoder_;
  std::string raw_;
  std::vector<Clock::time_point> arrivals_;
};

}  // namespace phonesim_test
