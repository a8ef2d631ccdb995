// Advice of charge: the phone's charge reports during an outgoing call become
// the call's charging record.
#include <limits>

#include "provider/phone_port.h"
#include "provider/tapi_events.h"
#include "provider/trace.h"
#include "provider/tsp_call.h"
#include "provider/tsp_line.h"

namespace {

constexpr std::uint8_t kWholeUnits = 3;

// "G12" counts units; "G1,23" is an amount. Up to three decimals are taken and
// the multiplier says how many: 0 thousandths ... 3 whole units.
ChargingRecord ParseChargeReport(const CByteArray& packet) {
  ChargingRecord record;
  record.type = kChargeUnits;
  record.multiplier = kWholeUnits;
  for (std::size_t i = 1; i < packet.size(); ++i) {
    const std::uint8_t byte = packet[i];
    if (byte >= '0' && byte <= '9' && record.multiplier > 0) {
      const std::uint32_t digit = byte - '0';
      // More digits than 32 bits hold are no charge the phone can mean: keep what fitted.
      if (record.value > (std::numeric_limits<std::uint32_t>::max() - digit) / 10) continue;
      record.value = record.value * 10 + digit;
      if (record.type == kChargeAmount) --record.multiplier;
    } else if (byte == '.' || byte == ',') {
      record.type = kChargeAmount;
    }
  }
  return record;
}

}  // namespace

void CPhonePort::TranslateChargeInfo(const CByteArray& packet, CTspLine* line) {
  QelTraceBytes(packet.data(), static_cast<std::int32_t>(packet.size()), "        Reading charge info: ");
  if (line == nullptr) {
    QelTrace("\r\n**** WARNING: TranslateChargeInfo(*) no line\r\n");
    return;
  }
  CTspCall* call = nullptr;
  for (DWORD slot = 1; slot <= 3 && call == nullptr; ++slot) {
    call = line->m_ActiveCalls.FindById(slot, LINECALLORIGIN_OUTBOUND);
  }
  if (call == nullptr) {
    QelTrace("\r\n        Sometimes stupid! Reading charge info, but an outbound not found!\r\n");
    return;
  }
  const ChargingRecord record = ParseChargeReport(packet);
  if (record.value == 0) return;
  call->SetCallInfo(&record, sizeof record, LINECALLINFOSTATE_CHARGINGINFO);
  if (call->m_htCall != nullptr) {
    QelTrace("       Sending LINE_CALLINFO LINECALLINFOSTATE_CHARGINGINFO  CallID 0x0%X\r\n", call->m_dwPhoneCallId);
    QelLineEvent(line, call->m_htCall, LINE_CALLINFO, LINECALLINFOSTATE_CHARGINGINFO, 0, 0);
  }
}
