// Every TSPI export with handles live, stale, freed and forged, null pointers
// and structures of every size.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "common/ui_request.h"
#include "fuzz/fuzz_harness.h"
#include "fuzz/fuzz_input.h"
#include "provider/settle.h"
#include "provider/tsp_line_map.h"

namespace {

constexpr DWORD kVersion = 0x00020002;
// The driver is shut down and initialised again before every this many inputs;
// in between, an input starts from the driver the last one left, with its lines
// gone. Init and shutdown still run hundreds of times a second, no longer in
// every execution.
constexpr unsigned kRestartEvery = 16;

unsigned g_inputs = 0;
std::vector<HDRVLINE> g_lines;

HDRVLINE PickLine(FuzzInput& in) {
  const std::uint8_t pick = in.Byte();
  if (pick == 0xFF) return reinterpret_cast<HDRVLINE>(static_cast<std::uintptr_t>(in.Word()));
  if (g_lines.empty() || pick == 0xFE) return nullptr;
  return g_lines[pick % g_lines.size()];
}

DWORD Device(FuzzInput& in) {
  const std::uint8_t pick = in.Byte();
  return pick == 0xFF ? 0xFFFFFFFF : pick % 4;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // COM200 is nowhere: opening a line fails fast, as with a port that is not there.
  fuzzing::UseOwnSettings("\"NumLines\"=dword:00000002\r\n\"MSN0\"=\"10\"\r\n\"PortNr\"=dword:000000c7\r\n");
  QelSkipSettleForFuzzing(true);
  DWORD options = 0;
  TSPI_providerInit(kVersion, 1, 0, 0, 2, 0, fuzzing::Tapi::Completion, &options);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzzing::Tapi::Reset();
  fuzzing::SettingsStore store(data, size);
  const fuzzing::TraceShare trace(store);
  FuzzInput in(data, size);
  if (++g_inputs % kRestartEvery == 0) {
    TSPI_providerShutdown(kVersion, 1);
    DWORD options = 0;
    TSPI_providerInit(kVersion, 1, 0, 0, 2, 0, fuzzing::Tapi::Completion, &options);
  }
  // Lines the phone can report calls on, without a link.
  g_lines.clear();
  for (DWORD device = 0; device < 2; ++device) {
    HDRVLINE line = nullptr;
    g_TspLineMap.LineOpen(device, reinterpret_cast<HTAPILINE>(0x5100 + device), &line, fuzzing::Tapi::Event);
    g_lines.push_back(line);
  }
  DRV_REQUESTID request = 1;
  while (!in.Empty()) {
    switch (in.Byte() % 25) {
      case 0: {
        const std::string packet = in.Bytes(8);
        g_TspLineMap.OnTargetMsg(CByteArray(packet.begin(), packet.end()), 0);
        break;
      }
      case 1:
        TSPI_lineAccept(request++, fuzzing::Tapi::PickCall(in), nullptr, 0);
        break;
      case 2:
        TSPI_lineAnswer(request++, fuzzing::Tapi::PickCall(in), nullptr, 0);
        break;
      case 3:
        TSPI_lineBlindTransfer(request++, fuzzing::Tapi::PickCall(in), in.Wide(30).c_str(), 0);
        break;
      case 4:
        TSPI_lineCloseCall(fuzzing::Tapi::PickCall(in));
        break;
      case 5:
        TSPI_lineDial(request++, fuzzing::Tapi::PickCall(in), in.Wide(30).c_str(), 0);
        break;
      case 6:
        TSPI_lineDrop(request++, fuzzing::Tapi::PickCall(in), nullptr, 0);
        break;
      case 7:
        TSPI_lineGenerateDigits(fuzzing::Tapi::PickCall(in), in.Word(), in.Word(), in.Byte() ? in.Wide(30).c_str() : nullptr, 0);
        break;
      case 8: {
        fuzzing::GuardedStructure caps(in.Word() % 600 + 12);
        TSPI_lineGetAddressCaps(Device(in), in.Byte() % 2, kVersion, 0, caps.As<LINEADDRESSCAPS>());
        break;
      }
      case 9: {
        DWORD address = 0;
        TSPI_lineGetAddressID(PickLine(in), in.Byte() ? &address : nullptr, 0, u"10", 6);
        break;
      }
      case 10: {
        fuzzing::GuardedStructure status(in.Word() % 200 + 12);
        TSPI_lineGetAddressStatus(PickLine(in), 0, status.As<LINEADDRESSSTATUS>());
        break;
      }
      case 11: {
        DWORD address = 0;
        TSPI_lineGetCallAddressID(fuzzing::Tapi::PickCall(in), in.Byte() ? &address : nullptr);
        break;
      }
      case 12: {
        fuzzing::GuardedStructure info(kLineCallInfoSize20 + in.Word() % 600);
        TSPI_lineGetCallInfo(fuzzing::Tapi::PickCall(in), info.As<LINECALLINFO>());
        break;
      }
      case 13: {
        fuzzing::GuardedStructure status(56 + in.Byte() % 64);
        TSPI_lineGetCallStatus(fuzzing::Tapi::PickCall(in), status.As<LINECALLSTATUS>());
        break;
      }
      case 14: {
        fuzzing::GuardedStructure caps(in.Word() % 600 + 12);
        TSPI_lineGetDevCaps(Device(in), in.Byte() % 2 ? kVersion : 0x00020000, 0, caps.As<LINEDEVCAPS>());
        break;
      }
      case 15: {
        fuzzing::GuardedStructure status(in.Word() % 200 + 12);
        TSPI_lineGetLineDevStatus(PickLine(in), status.As<LINEDEVSTATUS>());
        break;
      }
      case 16:
        TSPI_lineHold(request++, fuzzing::Tapi::PickCall(in));
        break;
      case 17:
        TSPI_lineUnhold(request++, fuzzing::Tapi::PickCall(in));
        break;
      case 18: {
        HDRVCALL made = nullptr;
        const DRV_REQUESTID id = request++;
        TSPI_lineMakeCall(id, PickLine(in), reinterpret_cast<HTAPICALL>(0x9000 + id), &made,
                          in.Byte() ? in.Wide(30).c_str() : nullptr, 0, nullptr);
        break;
      }
      case 19: {
        HDRVCALL consult = nullptr;
        TSPI_lineSetupTransfer(request++, fuzzing::Tapi::PickCall(in), in.Byte() ? reinterpret_cast<HTAPICALL>(0x9900) : nullptr,
                               &consult, nullptr);
        break;
      }
      case 20:
        TSPI_lineSwapHold(request++, fuzzing::Tapi::PickCall(in), fuzzing::Tapi::PickCall(in));
        break;
      case 21: {
        DWORD version = 0;
        TSPI_lineNegotiateTSPIVersion(in.Word(), in.Word(), in.Word(), &version);
        break;
      }
      case 22: {
        // The UI module's channel: records of any size and content.
        std::string record = in.Bytes(255);
        record.resize(in.Byte() % 2 ? sizeof(UiRequest) : record.size());
        // A record names a request TAPI gave the UI module: a fresh one, so the
        // completion it may bring is that request's only one.
        if (record.size() >= sizeof(DRV_REQUESTID)) {
          const DRV_REQUESTID uiRequest = request++;
          std::memcpy(record.data(), &uiRequest, sizeof uiRequest);
        }
        TSPI_providerGenericDialogData(0, in.Byte() % 6, record.empty() ? nullptr : record.data(),
                                       static_cast<DWORD>(record.size()));
        break;
      }
      case 23: {
        HDRVLINE opened = nullptr;
        TSPI_lineOpen(Device(in), reinterpret_cast<HTAPILINE>(0x5200), &opened, kVersion, fuzzing::Tapi::Event);
        if (opened != nullptr) g_lines.push_back(opened);
        break;
      }
      default: {
        const HDRVLINE line = PickLine(in);
        TSPI_lineClose(line);
        for (auto& known : g_lines) {
          if (known == line) known = nullptr;
        }
        break;
      }
    }
    fuzzing::RunWorker();
  }
  // What shutdown does to the lines; what was posted for them is handled now,
  // not in the next input.
  g_TspLineMap.RemoveAllLines();
  fuzzing::RunWorker();
  fuzzing::Tapi::Reset();
  return 0;
}
