// What the phone's packets mean: text replies and echoes are traced, cause
// values converted, numbers kept for the next call-state report, and the
// reports themselves handed on.
#include <array>
#include <cstring>

#include "provider/phone_port.h"
#include "provider/trace.h"
#include "tapi/tapi.h"

namespace {

constexpr std::size_t kCauseCount = 128;

// ISDN cause values (ETS 300 102-1 / Q.931) as TAPI disconnect modes.
constexpr std::array<std::uint32_t, kCauseCount> MakeCauseTable() {
  std::array<std::uint32_t, kCauseCount> table{};
  for (auto& mode : table) mode = LINEDISCONNECTMODE_UNKNOWN;
  table[0] = LINEDISCONNECTMODE_NORMAL;
  table[1] = LINEDISCONNECTMODE_BADADDRESS;      // unallocated number
  table[2] = LINEDISCONNECTMODE_BADADDRESS;      // no route to transit network
  table[3] = LINEDISCONNECTMODE_BADADDRESS;      // no route to destination
  table[16] = LINEDISCONNECTMODE_NORMAL;         // normal call clearing
  table[17] = LINEDISCONNECTMODE_BUSY;           // user busy
  table[18] = LINEDISCONNECTMODE_UNREACHABLE;    // no user responding
  table[19] = LINEDISCONNECTMODE_NOANSWER;       // no answer, user alerted
  table[21] = LINEDISCONNECTMODE_REJECT;         // call rejected
  table[22] = LINEDISCONNECTMODE_NUMBERCHANGED;  // number changed
  table[27] = LINEDISCONNECTMODE_OUTOFORDER;     // destination out of order
  table[28] = LINEDISCONNECTMODE_BADADDRESS;     // invalid number format
  table[31] = LINEDISCONNECTMODE_NORMAL;         // normal, unspecified
  table[34] = LINEDISCONNECTMODE_NODIALTONE;     // no circuit or channel available
  table[38] = LINEDISCONNECTMODE_OUTOFORDER;     // network out of order
  table[41] = LINEDISCONNECTMODE_TEMPFAILURE;    // temporary failure
  table[42] = LINEDISCONNECTMODE_CONGESTION;     // switching equipment congestion
  table[49] = LINEDISCONNECTMODE_QOSUNAVAIL;     // quality of service not available
  table[88] = LINEDISCONNECTMODE_INCOMPATIBLE;   // incompatible destination
  return table;
}

constexpr std::array<std::uint32_t, kCauseCount> kCauseTable = MakeCauseTable();

bool StartsWith(const CByteArray& packet, const char* text) {
  const std::size_t length = std::strlen(text);
  return packet.size() >= length && std::memcmp(packet.data(), text, length) == 0;
}

void TraceUnknown(const CByteArray& packet) {
  QelTraceBytes(packet.data(), static_cast<std::int32_t>(packet.size()), "        Reading unknow %i Bytes: ",
                static_cast<int>(packet.size()));
}

void TraceEcho(const CByteArray& packet) {
  switch (packet.size() > 2 ? packet[2] : 0) {
    case 'A':
    case 'H':
      QelTrace("        Reading ECHO \"ATA\"\r\n");
      break;
    case 'B':
      QelTrace("        Reading ECHO \"ATB\"\r\n");
      break;
    case 'D':
      QelTrace("        Reading ECHO \"ATD\"\r\n");
      break;
    case 'K':
      QelTrace("        Reading ECHO \"ATK\"\r\n");
      break;
    case 'R':
      QelTrace("        Reading ECHO \"ATR\"\r\n");
      break;
    default:
      TraceUnknown(packet);
      break;
  }
}

}  // namespace

std::uint32_t QelGetDisconnectMode(std::uint32_t callState, std::uint32_t cause) {
  if (callState != LINECALLSTATE_DISCONNECTED) return 0;
  return kCauseTable[cause & 0x7F];
}

int CPhonePort::ParsePacket(const CByteArray& packet, CTspLine* line) {
  if (StartsWith(packet, "OK")) {
    QelTrace("        Reading \"OK\"\r\n");
    return 0;
  }
  if (StartsWith(packet, "ERROR")) {
    QelTrace("        Reading \"ERROR\"\r\n");
    return 0;
  }
  if (StartsWith(packet, "AT")) {
    TraceEcho(packet);
    return 0;
  }
  const std::uint8_t type = packet.empty() ? 0 : packet[0];
  switch (type) {
    case 'A':
      QelTraceBytes(packet.data() + 1, static_cast<std::int32_t>(packet.size() - 1),
                    "        Reading \"Incomming Call\": ");
      m_CallData = packet;
      break;
    case 'C':
      if (packet.size() == 4) {
        OnCallStateReport(packet, line);
      } else {
        TraceUnknown(packet);
      }
      break;
    case 'G':
      m_CallData.clear();
      TranslateChargeInfo(packet, line);
      break;
    case 'L':
      if (packet.size() == 4) {
        QelTrace("        Reading \"disconnect\"\r\n");
        m_CallData.clear();
      } else {
        TraceUnknown(packet);
      }
      break;
    case 'S':
      if (packet.size() == 3) {
        ReadCause(packet);
      } else {
        TraceUnknown(packet);
      }
      break;
    case 'V':
      QelTraceBytes(packet.data(), static_cast<std::int32_t>(packet.size()), "        Reading \"connect nr.\": ");
      m_CallData = packet;
      break;
    default:
      TraceUnknown(packet);
      m_CallData.clear();
      break;
  }
  return 0;
}

void CPhonePort::ReadCause(const CByteArray& packet) {
  QelTrace("        Reading ETS300 Cause  0x%02X, 0x%02X\r\n", packet[1], packet[2]);
  // Each byte gives its low four bits: the cause's high and low hex digit.
  const std::uint32_t cause = (packet[1] & 0x0Fu) * 16 + (packet[2] & 0x0Fu);
  m_dwLastCause = QelGetDisconnectMode(LINECALLSTATE_DISCONNECTED, cause);
  QelTrace("          ETS300 Cause  converted 0x%02X  to 0x%02X\r\n", cause, m_dwLastCause);
}
