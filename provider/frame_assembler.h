// Cuts the phone's byte stream into packets: the text replies "OK" and
// "ERROR", command echoes ("AT..." up to CR) and binary packets (STX, length,
// 0x14, payload, two trailer bytes). Bytes only, no meaning: its state carries
// over between reads, so a packet may arrive in any number of pieces.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

class CFrameAssembler {
 public:
  using Emit = std::function<void(const std::uint8_t* packet, std::size_t length)>;

  enum class State { Idle, GotStx, GotLength, InPayload, InTrailer, GotA, InAtLine, GotE, GotER, GotO, GotOK };

  void Reset();
  // Feeds received bytes; emit is called once per complete packet, in order.
  void Feed(const std::uint8_t* bytes, std::size_t length, const Emit& emit);
  State GetState() const { return m_State; }

 private:
  static constexpr std::size_t kBufferSize = 255;

  State m_State = State::Idle;
  std::uint32_t m_dwExpected = 0;
  std::uint32_t m_dwCount = 0;
  std::uint32_t m_dwSkipped = 0;
  std::uint8_t m_Buffer[kBufferSize] = {};
};
