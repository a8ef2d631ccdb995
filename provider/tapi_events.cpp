#include "provider/tapi_events.h"

#include <cstdio>

#include "platform/system.h"
#include "platform/text.h"
#include "provider/trace.h"
#include "provider/tsp_line.h"

namespace {

struct Named {
  DWORD value;
  const char* name;
};

constexpr Named kMessages[] = {
    {0, "LINE_ADDRESSSTATE"},
    {501, "LINE_CALLDEVSPECIFIC"},
    {502, "LINE_CALLDEVSPECIFICFEATURE"},
    {1, "LINE_CALLINFO"},
    {2, "LINE_CALLSTATE"},
    {3, "LINE_CLOSE"},
    {19, "LINE_CREATE"},
    {503, "LINE_CREATEDIALOGINSTANCE"},
    {4, "LINE_DEVSPECIFIC"},
    {5, "LINE_DEVSPECIFICFEATURE"},
    {6, "LINE_GATHERDIGITS"},
    {7, "LINE_GENERATE"},
    {8, "LINE_LINEDEVSTATE"},
    {9, "LINE_MONITORDIGITS"},
    {10, "LINE_MONITORMEDIA"},
    {11, "LINE_MONITORTONE"},
    {500, "LINE_NEWCALL"},
    {25, "LINE_REMOVE"},
    {504, "LINE_SENDDIALOGINSTANCEDATA"},
};

constexpr Named kCallStates[] = {
    {LINECALLSTATE_IDLE, "LINECALLSTATE_IDLE"},
    {LINECALLSTATE_OFFERING, "LINECALLSTATE_OFFERING"},
    {LINECALLSTATE_ACCEPTED, "LINECALLSTATE_ACCEPTED"},
    {LINECALLSTATE_DIALTONE, "LINECALLSTATE_DIALTONE"},
    {LINECALLSTATE_DIALING, "LINECALLSTATE_DIALING"},
    {LINECALLSTATE_RINGBACK, "LINECALLSTATE_RINGBACK"},
    {LINECALLSTATE_BUSY, "LINECALLSTATE_BUSY"},
    {LINECALLSTATE_SPECIALINFO, "LINECALLSTATE_SPECIALINFO"},
    {LINECALLSTATE_CONNECTED, "LINECALLSTATE_CONNECTED"},
    {LINECALLSTATE_PROCEEDING, "LINECALLSTATE_PROCEEDING"},
    {LINECALLSTATE_ONHOLD, "LINECALLSTATE_ONHOLD"},
    {LINECALLSTATE_CONFERENCED, "LINECALLSTATE_CONFERENCED"},
    {LINECALLSTATE_ONHOLDPENDCONF, "LINECALLSTATE_ONHOLDPENDCONF"},
    {LINECALLSTATE_ONHOLDPENDTRANSFER, "LINECALLSTATE_ONHOLDPENDTRANSFER"},
    {LINECALLSTATE_DISCONNECTED, "LINECALLSTATE_DISCONNECTED"},
    {LINECALLSTATE_UNKNOWN, "LINECALLSTATE_UNKNOWN"},
};

template <std::size_t N>
const char* Lookup(const Named (&table)[N], DWORD value) {
  for (const Named& entry : table) {
    if (entry.value == value) return entry.name;
  }
  return "???";
}

constexpr int kAnsiLimit = 265;
constexpr int kDialableWorkSize = 256;
constexpr std::size_t kParamTextSize = 128;

bool IsDialable(char c) { return (c >= '0' && c <= '9') || c == '*' || c == '#'; }

}  // namespace

const char* QelLineMsgName(DWORD dwMsg) { return Lookup(kMessages, dwMsg); }

const char* QelCallStateName(DWORD dwState) { return Lookup(kCallStates, dwState); }

void QelLineEvent(CTspLine* line, HTAPICALL htCall, DWORD dwMsg, DWORD_PTR dwParam1, DWORD_PTR dwParam2,
                  DWORD_PTR dwParam3) {
  const char* name = QelLineMsgName(dwMsg);
  if (!CTspLine::IsLive(line)) return;
  const HTAPILINE htLine = line->m_htLine;
  const LINEEVENT eventProc = line->m_lpfnEventProc;
  // TAPI's own procedure is never stale; a missing one is what can be recognised.
  if (htLine == nullptr || eventProc == nullptr) {
    QelTrace("****  WARNING: Skipp TAPI-Line Event : HTAPILINE = 0x0%llX, HTAPICALL = 0x0%llX  <%s>\r\n",
             TraceHex(htLine), TraceHex(htCall), name);
    return;
  }
  // Every event passes here: its text is not built for a trace that is off.
  if (QelTraceEnabled()) {
    char param1[kParamTextSize];
    if (dwMsg == LINE_CALLSTATE) {
      std::snprintf(param1, sizeof param1, "%s", QelCallStateName(static_cast<DWORD>(dwParam1)));
    } else {
      std::snprintf(param1, sizeof param1, "0x0%llX", TraceHex(dwParam1));
    }
    char stamp[64];
    QelTrace("  TAPI-Line Event: HTAPILINE = 0x0%llX, HTAPICALL = 0x0%llX  <%s> <%s> <0x0%llX> <0x0%llX>  at %s\r\n",
             TraceHex(htLine), TraceHex(htCall), name, param1, TraceHex(dwParam2), TraceHex(dwParam3),
             QelTraceTimeStamp(stamp, sizeof stamp));
  }
  eventProc(htLine, htCall, dwMsg, dwParam1, dwParam2, dwParam3);
  QelTrace("  TAPI-Line Event: HTAPILINE = 0x0%llX, HTAPICALL = 0x0%llX  <%s> <0x0%llX> <0x0%llX> <0x0%llX> return \r\n",
           TraceHex(htLine), TraceHex(htCall), name, TraceHex(dwParam1), TraceHex(dwParam2), TraceHex(dwParam3));
}

int QelWideCharToString(const WCHAR* text, std::string* out) {
  char buffer[kAnsiLimit] = {};
  const int written = text != nullptr ? platform::WideToAnsi(text, -1, buffer, sizeof buffer) : 0;
  if (written == kAnsiLimit) {
    QelTrace("**** ERROR: Unable convert to ASCII string\r\n");
    return -1;
  }
  // A failed conversion (more than 265 bytes, say) leaves the text empty.
  *out = written > 0 ? std::string(buffer) : std::string();
  return static_cast<int>(out->size());
}

int QelWideCharToDialableString(const WCHAR* text, char* buffer, int size) {
  if (buffer == nullptr || size < 1) return -1;
  buffer[0] = '\0';
  if (size < 2) return -1;
  char work[kDialableWorkSize];
  std::uint32_t error = platform::kErrorInvalidParameter;
  if (text == nullptr || platform::WideToAnsi(text, -1, work, sizeof work, &error) == 0) {
    QelTrace("      QelWideCharToDialableString Error 0x%0X  %s\r\n", error, platform::SystemErrorText(error).c_str());
    return -1;
  }
  int kept = 0;
  for (const char* c = work; *c != '\0'; ++c) {
    if (!IsDialable(*c)) continue;
    // Full: what fitted stays, cut with its NUL.
    if (kept == size - 1) {
      buffer[kept] = '\0';
      return -1;
    }
    buffer[kept++] = *c;
  }
  buffer[kept] = '\0';
  QelTrace("      QelWideCharToDialableString conwert result %s\r\n", buffer);
  return kept;
}
