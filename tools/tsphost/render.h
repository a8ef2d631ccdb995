// What a person reads of TAPI's structures: the numbers and the charge of a
// call, the capabilities of a line.
#pragma once

#include <string>

#include "tapi/tapi.h"
#include "tools/tsphost/var_buffer.h"

namespace tsphost {

// Charging information as the provider delivers it: an AOC-D currency
// component shows as "0.720 EUR", text (units, a formatted amount) as it is,
// anything else as hexadecimal bytes.
std::string ChargingText(const std::string& bytes);

struct CallInfoSummary {
  DWORD origin = 0;
  DWORD callId = 0;
  std::string callerId;
  std::string calledId;
  std::string connectedId;
  std::string charging;  // ChargingText of the part, empty without one
};

CallInfoSummary Summarize(const VarBuffer<LINECALLINFO>& info);

// The parts of a summary that the LINECALLINFOSTATE bits name, for an event
// line: "caller 0301234, called 10".
std::string DescribeChange(DWORD infoStates, const CallInfoSummary& summary);

}  // namespace tsphost
