// Cuts the phone's byte stream into packets: the text replies "OK" and
// "ERROR", command echoes ("AT..." up to CR) and binary packets (STX, length,
// 0x14, payload, two trailer bytes). Bytes only, no meaning: its state carries
// over between reads, so a packet may arrive in any number of pieces.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>

class CFrameAssembler {
 public:
  using Clock = std::chrono::steady_clock;
  using Emit = std::function<void(const std::uint8_t* packet, std::size_t length)>;

  enum class State { Idle, GotStx, GotLength, InPayload, InTrailer, GotA, InAtLine, GotE, GotER, GotO, GotOK };

  // A packet or line half received is given up after this much silence. The
  // phone sends each one in a single burst, one byte every 1.04 ms at 9600 baud
  // (8N1), so even the longest frame (260 bytes) is on the line within 271 ms:
  // a second of silence inside one, nearly a thousand byte times, means its
  // sender has stopped (noise that looked like a start, a cable pulled mid-way).
  // Far enough above that for a receive thread woken late on a busy machine.
  static constexpr std::chrono::milliseconds kAbandonPause{1000};

  void Reset();
  // Feeds bytes received at receivedAt (a steady clock: only gaps matter); emit
  // is called once per complete packet, in order.
  void Feed(const std::uint8_t* bytes, std::size_t length, Clock::time_point receivedAt, const Emit& emit);
  State GetState() const { return m_State; }

 private:
  static constexpr std::size_t kBufferSize = 255;

  // The Idle state's reading of a byte: what it may start.
  void Start(std::uint8_t byte);

  State m_State = State::Idle;
  std::uint32_t m_dwExpected = 0;
  std::uint32_t m_dwCount = 0;
  std::uint32_t m_dwSkipped = 0;
  Clock::time_point m_LastReceived{};
  std::uint8_t m_Buffer[kBufferSize] = {};
};
