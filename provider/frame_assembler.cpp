#include "provider/frame_assembler.h"

namespace {

constexpr std::uint8_t kStx = 0x02;
constexpr std::uint8_t kFrameMark = 0x14;
constexpr std::uint8_t kCr = 0x0D;
constexpr std::uint8_t kOk[] = {'O', 'K'};
constexpr std::uint8_t kError[] = {'E', 'R', 'R', 'O', 'R'};

bool IsPrintable(std::uint8_t byte) { return byte >= 0x20 && byte <= 0x7E; }

// The first payload byte of every packet the phone sends.
bool IsPacketType(std::uint8_t byte) {
  switch (byte) {
    case 'A': case 'C': case 'G': case 'L': case 'S': case 'V':
      return true;
    default:
      return false;
  }
}

}  // namespace

void CFrameAssembler::Reset() {
  m_State = State::Idle;
  m_dwExpected = 0;
  m_dwCount = 0;
  m_dwSkipped = 0;
}

void CFrameAssembler::Start(std::uint8_t byte) {
  m_dwCount = 0;
  m_dwExpected = 0;
  if (byte == kStx) {
    m_State = State::GotStx;
  } else if (byte == 'A') {
    m_Buffer[0] = byte;
    m_dwCount = 1;
    m_State = State::GotA;
  } else if (byte == 'E') {
    m_State = State::GotE;
  } else if (byte == 'O') {
    m_State = State::GotO;
  } else {
    m_State = State::Idle;
  }
}

void CFrameAssembler::Feed(const std::uint8_t* bytes, std::size_t length, Clock::time_point receivedAt,
                           const Emit& emit) {
  if (length == 0) return;
  // Whatever was begun before a long silence is not coming to an end.
  if (m_State != State::Idle && receivedAt - m_LastReceived > kAbandonPause) Reset();
  m_LastReceived = receivedAt;
  for (std::size_t i = 0; i < length; ++i) {
    const std::uint8_t byte = bytes[i];
    // A byte that ends a pattern the wrong way is consumed, not looked at again as a start.
    switch (m_State) {
      case State::Idle:
        Start(byte);
        break;
      case State::GotO:
        m_State = byte == 'K' ? State::GotOK : State::Idle;
        break;
      case State::GotOK:
        if (byte == kCr) emit(kOk, sizeof kOk);
        m_State = State::Idle;
        break;
      case State::GotE:
        m_State = byte == 'R' ? State::GotER : State::Idle;
        break;
      case State::GotER:
        // "ERROR" is known by its third byte; another R repeats it.
        if (byte == 'R') {
          emit(kError, sizeof kError);
        } else {
          m_State = State::Idle;
        }
        break;
      case State::GotA:
        if (byte == 'T') {
          m_Buffer[m_dwCount++] = byte;
          m_State = State::InAtLine;
        } else {
          m_State = State::Idle;
        }
        break;
      case State::InAtLine:
        if (IsPrintable(byte)) {
          m_Buffer[m_dwCount++] = byte;
          // An echo longer than 254 characters is no echo of ours: drop it.
          if (m_dwCount >= kBufferSize) m_State = State::Idle;
        } else {
          if (byte == kCr) emit(m_Buffer, m_dwCount);
          m_State = State::Idle;
        }
        break;
      case State::GotStx:
        m_dwExpected = byte;
        m_State = State::GotLength;
        break;
      case State::GotLength:
        if (byte == kFrameMark) {
          m_dwCount = 0;
          m_State = State::InPayload;
        } else {
          m_State = State::Idle;
        }
        break;
      case State::InPayload:
        // No packet starts so: noise that looked like a frame. Dropped at once,
        // rather than taking the real packets that follow as its payload; the
        // byte was never part of a frame, so it may start one.
        if (m_dwCount == 0 && !IsPacketType(byte)) {
          Start(byte);
          break;
        }
        m_Buffer[m_dwCount++] = byte;
        // A length of 0 behaves like 1: the first payload byte is the packet.
        if (m_dwCount >= m_dwExpected) {
          emit(m_Buffer, m_dwCount);
          m_dwSkipped = 0;
          m_State = State::InTrailer;
        }
        break;
      case State::InTrailer:
        if (++m_dwSkipped >= 2) m_State = State::Idle;
        break;
    }
  }
}
