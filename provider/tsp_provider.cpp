#include "provider/tsp_provider.h"

#include "platform/thread.h"
#include "provider/settle.h"
#include "provider/trace.h"
#include "provider/tsp_port.h"

namespace {

constexpr char kProviderName[] = "Kavrel Phone TSP";
constexpr WCHAR kProviderNameW[] = u"Kavrel Phone TSP";
// Gives a freshly started or freshly told-to-quit worker time to get going; the
// wait ends as soon as it has.
constexpr std::uint32_t kWorkerSettleMs = 100;

}  // namespace

void* g_hInstance = nullptr;
HPROVIDER g_hProvider = nullptr;
std::atomic<CTspPort*> g_pTspPort{nullptr};

CTspProvider::~CTspProvider() = default;

LONG CTspProvider::Init(DWORD tspiVersion, DWORD permanentProviderId, DWORD lineDeviceIdBase,
                        DWORD phoneDeviceIdBase, DWORD numLines, DWORD numPhones, ASYNC_COMPLETION completionProc) {
  dwTSPIVersion = tspiVersion;
  dwPermanentProviderID = permanentProviderId;
  dwLineDeviceIDBase = lineDeviceIdBase;
  dwPhoneDeviceIDBase = phoneDeviceIdBase;
  dwNumLines = numLines;
  dwNumPhones = numPhones;
  pfnCompletionProc = completionProc;
  ReadTrace();
  return 0;
}

void CTspProvider::ReadTrace() {
  CTspConfig config(kTspConfigKey);
  QelTraceSetEnabled(config.GetTrace() != 0 ? 1 : 0);
}

LONG CTspProvider::ReadChargeSettings(ChargeSettings* settings) {
  ::ReadChargeSettings(settings);
  return 0;
}

const char* CTspProvider::GetProviderName() const { return kProviderName; }

const WCHAR* CTspProvider::GetProviderNameW() const { return kProviderNameW; }

void CTspProvider::CompleteRequest(DRV_REQUESTID requestId, LONG result) {
  QelTrace("      ASYNC COMPLETION RequestID 0x%0X, Result 0x%0X\r\n", requestId, static_cast<unsigned>(result));
  // A null procedure is the only unusable one we can recognise: TAPI's own is never stale.
  if (pfnCompletionProc == nullptr) {
    QelTrace("**** WARNING: Skipp async completition! ProcAddr=0x0%llX\r\n", TraceHex(pfnCompletionProc));
    return;
  }
  pfnCompletionProc(requestId, result);
  QelTrace("      ASYNC COMPLETION RequestID 0x%0X, Result 0x%0X  return.\r\n", requestId,
           static_cast<unsigned>(result));
}

DWORD CTspProvider::GetPermanentLineID(DWORD deviceId) const {
  return ((dwPermanentProviderID & 0xFFFF) << 16) | (deviceId - dwLineDeviceIDBase);
}

CTspPort* QelGetCtiPort() {
  CTspPort* port = g_pTspPort.load();
  if (port == nullptr) return nullptr;
  if (!CTspPort::IsLive(port)) {
    QelTrace("        Port instance invalid: 0x%0llX\r\n", TraceHex(port));
    return nullptr;
  }
  return port;
}

CTspPort* QelCreateCtiPort() {
  if (CTspPort* existing = QelGetCtiPort()) return existing;
  // Constructed here, before its thread starts; the thread deletes it when it ends.
  auto* port = new CTspPort;
  if (!port->StartThread(platform::ThreadPriority::kAboveNormal)) {
    delete port;
    g_pTspPort.store(nullptr);
    return nullptr;
  }
  QelTrace("        PortThread created: 0x%0llX\r\n", TraceHex(port));
  // Until its loop has started, past InitInstance.
  QelAwaitWorker(port->ThreadId(), kWorkerSettleMs);
  g_pTspPort.store(port);
  return port;
}

int QelDeleteCtiPort() {
  CTspPort* port = QelGetCtiPort();
  if (port == nullptr) return 0;
  QelTrace("        QelDeleteCtiPort: close PortThread\r\n");
  port->Close();
  QelTrace("        QelDeleteCtiPort: exit PortThread\r\n");
  g_pTspPort.store(nullptr);
  // The worker deletes the object once it has quit: only its id is safe to use.
  QelQuitWorker(port->ThreadId(), kWorkerSettleMs);
  return 0;
}
