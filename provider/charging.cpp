// Advice of charge: the phone's charge reports during an outgoing call become
// the call's charging record, which TAPI reads in the format the user chose.
#include "provider/charging.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "platform/system.h"
#include "provider/phone_port.h"
#include "provider/tapi_events.h"
#include "provider/trace.h"
#include "provider/tsp_call.h"
#include "provider/tsp_line.h"
#include "provider/var_struct.h"

namespace {

constexpr std::uint8_t kWholeUnits = 3;

// "G12" counts units; "G1,23" is an amount. Up to three decimals are taken and
// the multiplier says how many: 0 thousandths ... 3 whole units. False for a
// report whose digits 32 bits cannot hold: no digit is ever left out to make
// them fit, which would give a charge the phone never meant.
bool ParseChargeReport(const CByteArray& packet, ChargingRecord* record) {
  record->type = kChargeUnits;
  record->multiplier = kWholeUnits;
  record->value = 0;
  for (std::size_t i = 1; i < packet.size(); ++i) {
    const std::uint8_t byte = packet[i];
    if (byte >= '0' && byte <= '9' && record->multiplier > 0) {
      const std::uint32_t digit = byte - '0';
      if (record->value > (std::numeric_limits<std::uint32_t>::max() - digit) / 10) return false;
      record->value = record->value * 10 + digit;
      if (record->type == kChargeAmount) --record->multiplier;
    } else if (byte == '.' || byte == ',') {
      record->type = kChargeAmount;
    }
  }
  return true;
}

// Ten-thousandths of the currency as "whole.dddd", always with a point: the C
// library's %f would take the process locale's decimal separator, which a host
// application may have set to a comma, and the user's number format expects a point.
std::string TenThousandthsText(std::uint64_t tenThousandths) {
  std::string fraction = std::to_string(tenThousandths % 10000);
  fraction.insert(0, 4 - fraction.size(), '0');
  return std::to_string(tenThousandths / 10000) + "." + fraction;
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
  ChargingRecord record;
  if (!ParseChargeReport(packet, &record)) {
    QelTrace("**** WARNING: charge info out of range, ignored\r\n");
    return;
  }
  if (record.value == 0) return;
  call->SetCallInfo(&record, sizeof record, LINECALLINFOSTATE_CHARGINGINFO);
  if (call->m_htCall != nullptr) {
    QelTrace("       Sending LINE_CALLINFO LINECALLINFOSTATE_CHARGINGINFO  CallID 0x0%X\r\n", call->m_dwPhoneCallId);
    QelLineEvent(line, call->m_htCall, LINE_CALLINFO, LINECALLINFOSTATE_CHARGINGINFO, 0, 0);
  }
}

std::size_t BuildAocdCurrency(std::uint8_t* buffer, const std::string& currency, std::uint32_t amount,
                              std::uint8_t multiplier) {
  // One-byte BER lengths: a currency within the AOC-D limit keeps every length short.
  const std::string text = currency.substr(0, kAocdCurrencyLimit);
  const std::uint8_t c = static_cast<std::uint8_t>(text.size());
  const std::uint8_t n = amount <= 0xFF ? 1 : amount <= 0xFFFF ? 2 : amount <= 0xFFFFFF ? 3 : 4;
  std::size_t at = 0;
  auto put = [&](std::uint8_t byte) { buffer[at++] = byte; };
  put(0x02), put(0x01), put(0x21);            // INTEGER 33: the AOC-D currency operation
  put(0x30), put(static_cast<std::uint8_t>(c + n + 14));  // currency information
  put(0xA1), put(static_cast<std::uint8_t>(c + n + 9));   // [1] recorded currency
  put(0x81), put(c);                          // [1] currency text
  for (const char ch : text) put(static_cast<std::uint8_t>(ch));
  put(0xA2), put(static_cast<std::uint8_t>(n + 5));  // [2] amount
  put(0x81), put(n);                          // [1] currency amount, most significant byte first
  for (int shift = 8 * (n - 1); shift >= 0; shift -= 8) put(static_cast<std::uint8_t>(amount >> shift));
  put(0x82), put(0x01), put(multiplier);      // [2] multiplier
  put(0x82), put(0x01), put(0x00);            // [2] type of charging information: subtotal
  return at;
}

void CTspCall::AppendChargingInfo(LINECALLINFO* info) {
  const ChargingRecord& record = m_Charging;
  if (record.value == 0) return;
  const double value = record.value;
  const double perUnit = m_ChargeSettings.dwChargePerUnit;
  std::uint8_t bytes[256];
  std::size_t size = 0;
  switch (m_ChargeSettings.dwChargeFormat) {
    case kChargeFormatUnitsText: {
      double units = value;
      if (record.type == kChargeAmount) {
        if (perUnit == 0) return;  // no price, no units
        units = value * std::pow(10.0, record.multiplier + 1) / perUnit;
      }
      // More units than the text can count are not worth showing as a number that wrapped.
      if (units >= 2147483647.0) return;
      const int length = std::snprintf(reinterpret_cast<char*>(bytes), sizeof bytes, "%06i", static_cast<int>(units));
      size = static_cast<std::size_t>(length) + 1;
      QelTrace("        ChargingInfo Units: %s\r\n", reinterpret_cast<char*>(bytes));
      break;
    }
    case kChargeFormatAmountText: {
      // In ten-thousandths of the currency, exact: a 32-bit value times at most
      // 10^4 (an amount) or a 32-bit price (units) fits 64 bits.
      std::uint64_t tenThousandths = record.value;
      if (record.type == kChargeAmount) {
        for (int step = 0; step <= record.multiplier; ++step) tenThousandths *= 10;
      } else {
        tenThousandths *= m_ChargeSettings.dwChargePerUnit;
      }
      const std::string plain = TenThousandthsText(tenThousandths);
      std::string text;
      if (!platform::FormatNumberForUser(plain, &text)) text = plain;
      text = text.substr(0, sizeof bytes - 1);
      std::memcpy(bytes, text.c_str(), text.size() + 1);
      size = text.size() + 1;
      QelTrace("        ChargingInfo Currency: %s\r\n", text.c_str());
      break;
    }
    case kChargeFormatAocdCurrency: {
      std::uint64_t amount = record.value;
      std::uint8_t multiplier = record.multiplier;
      if (record.type == kChargeUnits) {
        // Thousandths of the currency: units times ten-thousandths, over ten.
        amount = static_cast<std::uint64_t>(record.value) * m_ChargeSettings.dwChargePerUnit / 10;
        multiplier = 0;
      }
      // An amount beyond four bytes cannot be encoded: better none than a wrong one.
      if (amount > 0xFFFFFFFFu) return;
      size = BuildAocdCurrency(bytes, m_ChargeSettings.strCurrency, static_cast<std::uint32_t>(amount), multiplier);
      break;
    }
    default:
      return;
  }
  DWORD offset = 0;
  if (!AppendVariablePart(info, bytes, static_cast<DWORD>(size), &offset)) return;
  info->dwChargingInfoSize = static_cast<DWORD>(size);
  info->dwChargingInfoOffset = offset;
  if (m_ChargeSettings.dwChargeFormat == kChargeFormatAocdCurrency) {
    QelTraceBytes(bytes, static_cast<std::int32_t>(size), "        ChargingInfo AOCD: ");
  }
}
