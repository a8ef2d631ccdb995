// The phone's call-state reports: one state byte per call slot. Every change
// against the last report becomes TAPI call states and events on the line's
// calls. This is the only place where calls change state because of the phone.
#include <algorithm>

#include "provider/phone_port.h"
#include "provider/tapi_events.h"
#include "provider/trace.h"
#include "provider/tsp_call.h"
#include "provider/tsp_line.h"

namespace {

// Slot state values the phone reports.
constexpr std::uint8_t kSlotFree = 0xFF;
constexpr std::uint8_t kDisconnectIndication = 1;
constexpr std::uint8_t kDisconnected = 2;
constexpr std::uint8_t kSetup = 3;
constexpr std::uint8_t kOffered = 4;
constexpr std::uint8_t kDialing = 5;
constexpr std::uint8_t kConnected = 6;
constexpr std::uint8_t kHeldForTransfer = 7;
constexpr std::uint8_t kOfferedWaiting = 10;
constexpr std::uint8_t kReleased = 13;

bool IsDisconnect(std::uint8_t value) {
  return value == kDisconnectIndication || value == kDisconnected || value == kReleased;
}

bool IsIgnored(std::uint8_t value) { return value == 8 || value == 9 || value == 11 || value == 12; }

// A call TAPI has seen go idle (dropped while the phone still had it) stays
// idle: later news from its slot is old news until the slot is freed.
bool IsOver(const CTspCall* call) { return call->m_dwCallState == LINECALLSTATE_IDLE; }

// The trace's name of what a report asked for when its call is missing.
const char* ReportName(std::uint8_t value) {
  if (IsDisconnect(value)) return "DISC_IND";
  if (value == kDialing) return "DIALING";
  return "CONNECTED";
}

void Event(CTspLine* line, CTspCall* call, DWORD message, DWORD_PTR param1, DWORD_PTR param2, DWORD_PTR param3) {
  QelLineEvent(line, call->m_htCall, message, param1, param2, param3);
}

// A call the phone started, announced to TAPI in the state the phone reports it
// in; null when the line cannot take it.
CTspCall* AnnouncePhoneCall(CTspLine* line, int slot, DWORD state, DWORD mode) {
  CTspCall* call = line->NewCall(LINECALLORIGIN_OUTBOUND, static_cast<DWORD>(slot));
  if (call == nullptr) {
    QelTrace("**** ERROR: Can't create new call\r\n");
    return nullptr;
  }
  call->SetCallState(state, mode);
  call->m_dwMediaMode = LINEMEDIAMODE_INTERACTIVEVOICE;
  if (call->m_htCall != nullptr) {
    Event(line, call, LINE_CALLSTATE, state, mode, LINEMEDIAMODE_INTERACTIVEVOICE);
    QelTrace("       Sending LINE_CALLINFO LINECALLINFOSTATE_ORIGIN to TAPI\r\n");
    Event(line, call, LINE_CALLINFO, LINECALLINFOSTATE_ORIGIN, 0, 0);
  }
  return call;
}

// The call in the slot that TAPI has not seen end.
CTspCall* LiveCallIn(CTspLine* line, int slot) {
  CTspCall* found = nullptr;
  line->m_ActiveCalls.ForEach([&](CTspCall& call) {
    if (found == nullptr && call.m_dwPhoneCallId == static_cast<DWORD>(slot) && !IsOver(&call)) found = &call;
  });
  return found;
}

// What the phone reports for a call, if the call's state is what value means:
// then the report is no change for it. Otherwise free, so that the report is
// handled as a change.
std::uint8_t AgreedState(const CTspCall* call, std::uint8_t value) {
  DWORD meant = 0;
  if (IsDisconnect(value)) meant = LINECALLSTATE_DISCONNECTED;
  if (value == kSetup) meant = LINECALLSTATE_DIALTONE;
  if (value == kDialing) meant = LINECALLSTATE_DIALING;
  if (value == kConnected) meant = LINECALLSTATE_CONNECTED;
  if (value == kHeldForTransfer) meant = LINECALLSTATE_ONHOLDPENDTRANSFER;
  // An offer never looks for an older call of its slot: as a change it would
  // offer the same call twice.
  if (meant == 0 || call->m_dwCallState == meant) return value;
  return kSlotFree;
}

// The connected number from a "V" packet; DWORD flags of what was taken.
DWORD TakeConnectedNumber(CTspCall* call, const CByteArray& callData) {
  if (callData.size() < 2 || callData[0] != 'V') return 0;
  DWORD flags = 0;
  const DWORD length = static_cast<DWORD>(callData.size() - 1);
  if (call->SetCallInfo(callData.data() + 1, length, LINECALLINFOSTATE_CONNECTEDID) == 0) {
    flags |= LINECALLINFOSTATE_CONNECTEDID;
  }
  if (call->m_dwOrigin == LINECALLORIGIN_OUTBOUND && call->m_strCalledNumber.empty()) {
    call->SetCallInfo(callData.data() + 1, length, LINECALLINFOSTATE_CALLEDID);
    flags |= LINECALLINFOSTATE_CALLEDID;
  }
  return flags;
}

}  // namespace

void CPhonePort::OnCallStateReport(const CByteArray& packet, CTspLine* line) {
  QelTrace("        Reading call state  0x%02X, 0x%02X, 0x%02X\r\n", packet[1], packet[2], packet[3]);
  // The first report after a connect waits for a line open to TAPI, to be compared with its calls.
  if (line == nullptr || (m_bReconcile && !line->IsOpen())) {
    for (int slot = 1; slot <= 3; ++slot) m_CallStates[static_cast<std::size_t>(slot)] = packet[static_cast<std::size_t>(slot)];
    m_bReportWaiting = m_bReconcile;
    return;
  }
  if (m_bReconcile) Reconcile(packet, line);
  QelTrace("        NumCalls Aktiv: %d  m_dwNumOnHoldPendCalls: %d\r\n", static_cast<int>(line->m_dwNumActiveCalls),
           static_cast<int>(line->m_dwNumOnHoldPendCalls));
  for (int slot = 1; slot <= 3; ++slot) {
    const std::size_t n = static_cast<std::size_t>(slot);
    if (packet[n] == m_CallStates[n]) {
      OnStateUnchanged(packet, line, slot);
    } else {
      OnStateChanged(packet, line, slot);
    }
    // What the phone said is what the next report is compared with, found call or not.
    m_CallStates[n] = packet[n];
  }
  m_CallData.clear();
  if (m_CallStates[1] == kSlotFree && m_CallStates[2] == kSlotFree && m_CallStates[3] == kSlotFree) {
    line->ResetCallCounts();
    m_dwLastCause = 0;
  }
  QelTrace("        New NumCalls Aktiv: %d  m_dwNumOnHoldPendCalls: %d\r\n",
           static_cast<int>(line->m_dwNumActiveCalls), static_cast<int>(line->m_dwNumOnHoldPendCalls));
}

void CPhonePort::OnStateChanged(const CByteArray& packet, CTspLine* line, int slot) {
  const std::size_t n = static_cast<std::size_t>(slot);
  const std::uint8_t value = packet[n];
  const std::uint8_t stored = m_CallStates[n];
  const DWORD phoneCallId = static_cast<DWORD>(slot);

  // The call a report of 1, 2, 13, 5, 6 or 7 is about: the one in the slot, or
  // for a slot that was free the outbound call that has no slot yet (which
  // takes this one).
  auto findCall = [&]() -> CTspCall* {
    if (CTspCall* call = line->m_ActiveCalls.FindById(phoneCallId, 0)) return call;
    if (stored == kSlotFree) {
      if (CTspCall* call = line->m_ActiveCalls.FindWaitingOutbound()) {
        call->m_dwPhoneCallId = phoneCallId;
        return call;
      }
    }
    if (stored != kSlotFree) {
      QelTrace("\r\n        Sometimes stupid! Call state \"%s\", but Call ID 0x%02X not found! Last Call State: 0x%02X \r\n",
               ReportName(value), slot, stored);
    } else {
      QelTrace("\r\n        Sometimes stupid! Call state \"%s\", but Call ID 0x%02X or an outbound call not found!\r\n",
               ReportName(value), slot);
    }
    return nullptr;
  };

  if (IsDisconnect(value)) {
    CTspCall* call = findCall();
    if (call == nullptr) return;
    if (call->m_dwCallState == LINECALLSTATE_DISCONNECTED || call->m_dwCallState == LINECALLSTATE_IDLE) return;
    call->SetCallState(LINECALLSTATE_DISCONNECTED, m_dwLastCause);
    if (call->m_htCall != nullptr) {
      if (value == kDisconnectIndication) {
        QelTrace("       Sending LINE_CALLSTATE LINECALLSTATE_DISCONNECTED to TAPI DISCONNECTMODE: 0x%02X\r\n",
                 m_dwLastCause);
      }
      Event(line, call, LINE_CALLSTATE, LINECALLSTATE_DISCONNECTED, m_dwLastCause, call->m_dwMediaMode);
    }
    return;
  }

  switch (value) {
    case kSetup: {
      m_dwLastCause = 0;
      if (line->m_ActiveCalls.FindById(phoneCallId, 0) != nullptr) {
        QelTrace("\r\n        Sometimes stupid! Call state \"SETUP\", for existing Call ID 0x%02X ! Last Call State: 0x%02X \r\n",
                 slot, stored);
      } else if (CTspCall* call = line->m_ActiveCalls.FindWaitingOutbound()) {
        call->m_dwPhoneCallId = phoneCallId;
        call->SetCallState(LINECALLSTATE_DIALTONE, LINEDIALTONEMODE_UNAVAIL);
        if (call->m_htCall != nullptr) {
          Event(line, call, LINE_CALLSTATE, LINECALLSTATE_DIALTONE, LINEDIALTONEMODE_UNAVAIL, call->m_dwMediaMode);
        }
      } else if (stored == kSlotFree) {
        // Dialled at the phone itself: TAPI learns of it now.
        if (AnnouncePhoneCall(line, slot, LINECALLSTATE_DIALTONE, LINEDIALTONEMODE_UNAVAIL) == nullptr) {
          m_CallData.clear();
        }
      } else {
        QelTrace("\r\n        Sometimes stupid! Call state \"SETUP\", but Call ID 0x%02X not found! Last Call State: 0x%02X \r\n",
                 slot, stored);
      }
      break;
    }
    case kOffered:
    case kOfferedWaiting: {
      m_dwLastCause = 0;
      // Offered without its caller data (the packet lost on the line) all the
      // same: only the numbers are missing, and the phone rings.
      const bool withData = !m_CallData.empty() && m_CallData[0] == 'A';
      if (!withData) QelTrace("\r\n        Sometimes stupid! Call state 0x%02X , but \"A ...\" missing\r\n", value);
      CTspCall* call = line->NewCall(LINECALLORIGIN_INBOUND, phoneCallId);
      if (call == nullptr) {
        QelTrace("    Error! Can't allocate new call\r\n");
        m_CallData.clear();
        break;
      }
      call->SetCallState(LINECALLSTATE_OFFERING, LINEOFFERINGMODE_ACTIVE);
      call->m_dwMediaMode = LINEMEDIAMODE_INTERACTIVEVOICE;
      // "A", calling number, ":", called number; a caller who withholds the
      // number leaves the called one ("A:10").
      DWORD flags = 0;
      const auto colon = withData ? std::find(m_CallData.begin() + 1, m_CallData.end(), ':') : m_CallData.end();
      if (colon != m_CallData.end()) {
        const DWORD callerLength = static_cast<DWORD>(colon - m_CallData.begin() - 1);
        if (callerLength > 0 &&
            call->SetCallInfo(m_CallData.data() + 1, callerLength, LINECALLINFOSTATE_CALLERID) == 0) {
          flags |= LINECALLINFOSTATE_CALLERID;
        }
        const DWORD calledLength = static_cast<DWORD>(m_CallData.end() - colon - 1);
        if (calledLength > 0 &&
            call->SetCallInfo(&*(colon + 1), calledLength, LINECALLINFOSTATE_CALLEDID) == 0) {
          flags |= LINECALLINFOSTATE_CALLEDID;
        }
      }
      if (call->m_htCall != nullptr) {
        Event(line, call, LINE_CALLSTATE, LINECALLSTATE_OFFERING, LINEOFFERINGMODE_ACTIVE,
              LINEMEDIAMODE_INTERACTIVEVOICE);
        QelTrace("       Sending LINE_LINEDEVSTATE LINEDEVSTATE_RINGING to TAPI\r\n");
        QelLineEvent(line, nullptr, LINE_LINEDEVSTATE, LINEDEVSTATE_RINGING, 0, 0);
        if (flags != 0) Event(line, call, LINE_CALLINFO, flags + LINECALLINFOSTATE_ORIGIN, 0, 0);
        QelTrace("       Sending LINE_LINEDEVSTATE LINEDEVSTATE_RINGING 2 to TAPI\r\n");
        QelLineEvent(line, nullptr, LINE_LINEDEVSTATE, LINEDEVSTATE_RINGING, 0, 1);
      }
      m_CallData.clear();
      break;
    }
    case kDialing: {
      m_dwLastCause = 0;
      CTspCall* call = findCall();
      if (call == nullptr || IsOver(call)) break;
      if (call->m_htCall != nullptr) {
        if (call->m_dwCallState != LINECALLSTATE_DIALTONE && call->m_dwCallState != LINECALLSTATE_DIALING) {
          call->SetCallState(LINECALLSTATE_DIALTONE, LINEDIALTONEMODE_UNAVAIL);
          Event(line, call, LINE_CALLSTATE, LINECALLSTATE_DIALTONE, LINEDIALTONEMODE_UNAVAIL, call->m_dwMediaMode);
        }
        call->SetCallState(LINECALLSTATE_DIALING, 0);
        Event(line, call, LINE_CALLSTATE, LINECALLSTATE_DIALING, 0, call->m_dwMediaMode);
      } else {
        call->SetCallState(LINECALLSTATE_DIALING, 0);
      }
      break;
    }
    case kConnected: {
      m_dwLastCause = 0;
      CTspCall* call = findCall();
      if (call == nullptr || IsOver(call)) break;
      call->SetConnected(LINECONNECTEDMODE_ACTIVE);
      if (!call->m_strPostDial.empty()) {
        // Sent once: a retrieve after a hold connects the call again.
        const std::string postDial = std::move(call->m_strPostDial);
        call->m_strPostDial.clear();
        PostDial(&postDial);
        call->m_strCalledNumber += postDial;
      }
      const DWORD flags = TakeConnectedNumber(call, m_CallData);
      if (call->m_htCall != nullptr) {
        Event(line, call, LINE_CALLSTATE, LINECALLSTATE_CONNECTED, LINECONNECTEDMODE_ACTIVE, call->m_dwMediaMode);
        if (flags != 0) Event(line, call, LINE_CALLINFO, flags, 0, 0);
      }
      ForgetConnectedNumber();
      break;
    }
    case kHeldForTransfer: {
      m_dwLastCause = 0;
      CTspCall* call = findCall();
      if (call == nullptr || IsOver(call)) break;
      call->SetOnHoldPendTransfer();
      if (call->m_htCall != nullptr) Event(line, call, LINE_CALLSTATE, call->m_dwCallState, 0, 0);
      break;
    }
    case kSlotFree:
      // Every call still bearing the slot goes: an offer never searches for an
      // older call of its slot, so there may be more than one.
      while (CTspCall* call = line->m_ActiveCalls.FindById(phoneCallId, 0)) {
        line->RemoveCall(call);
        if (line->m_ActiveCalls.Contains(call) != nullptr) break;
      }
      break;
    default:
      if (!IsIgnored(value)) QelTrace("\r\n        Sometimes stupid! Call state 0x%02X , unknow\r\n", value);
      break;
  }
}

void CPhonePort::OnStateUnchanged(const CByteArray&, CTspLine* line, int slot) {
  if (m_CallStates[static_cast<std::size_t>(slot)] != kConnected) return;
  m_dwLastCause = 0;
  CTspCall* call = line->m_ActiveCalls.FindById(static_cast<DWORD>(slot), 0);
  if (call == nullptr) {
    QelTrace("\r\n        Sometimes stupid! Call state \"CONNECTED\", but Call ID 0x%02X not found! Last Call State: 0x%02X \r\n",
             slot, kConnected);
    return;
  }
  DWORD flags = 0;
  if (m_CallData.size() >= 2 && m_CallData[0] == 'V') {
    QelTrace("        detect new conected number for CallId 0x%02X\r\n", slot);
    flags = TakeConnectedNumber(call, m_CallData);
  }
  if (call->m_htCall != nullptr && flags != 0) Event(line, call, LINE_CALLINFO, flags, 0, 0);
  ForgetConnectedNumber();
}

void CPhonePort::ForgetConnectedNumber() {
  // Only a connected number is used up here: an incoming call's "A" packet in
  // the same report belongs to the slot that offers it, a call waiting.
  if (!m_CallData.empty() && m_CallData[0] == 'V') m_CallData.clear();
}

void CPhonePort::ReconcileWithLine(CTspLine* line) {
  // Without a report yet the stored slots say nothing: the first one to come is compared.
  if (!m_bReconcile || !m_bReportWaiting || line == nullptr || !line->IsOpen()) return;
  // The report that came before the line was open, once more.
  OnCallStateReport(CByteArray{'C', m_CallStates[1], m_CallStates[2], m_CallStates[3]}, line);
}

void CPhonePort::Reconcile(const CByteArray& packet, CTspLine* line) {
  m_bReconcile = false;
  m_bReportWaiting = false;
  QelTrace("        First report since connecting: compared with the calls\r\n");
  for (int slot = 1; slot <= 3; ++slot) {
    const std::size_t n = static_cast<std::size_t>(slot);
    const std::uint8_t value = packet[n];
    if (CTspCall* call = LiveCallIn(line, slot)) {
      // Gone from the phone: anything but free, so the slot is freed as a change.
      m_CallStates[n] = value == kSlotFree ? kDisconnected : AgreedState(call, value);
      continue;
    }
    m_CallStates[n] = kSlotFree;
    if (value != kDialing && value != kConnected && value != kHeldForTransfer) continue;
    // The phone kept a call TAPI has no call for (dropped while the link was
    // down, or from before a restart): TAPI learns of it, and a new call's
    // digits never reach it as tones.
    QelTrace("        Taking up the call in slot 0x%02X\r\n", slot);
    line->m_ActiveCalls.ForEach([slot](CTspCall& call) {
      if (call.m_dwPhoneCallId == static_cast<DWORD>(slot)) call.m_dwPhoneCallId = kNoPhoneCallId;
    });
    const DWORD state = value == kDialing     ? LINECALLSTATE_DIALING
                        : value == kConnected ? LINECALLSTATE_CONNECTED
                                              : LINECALLSTATE_ONHOLDPENDTRANSFER;
    const DWORD mode = value == kConnected ? LINECONNECTEDMODE_ACTIVE : 0;
    if (AnnouncePhoneCall(line, slot, state, mode) != nullptr) m_CallStates[n] = value;
  }
}
