// The phone's byte stream through framing, parsing, call-state and charge
// reports into the call model, interleaved with TAPI's call requests, all
// drawn from one input.
#include <cstdlib>

#include "fuzz/fuzz_harness.h"
#include "fuzz/fuzz_input.h"
#include "provider/frame_assembler.h"
#include "provider/settle.h"
#include "provider/tsp_line_map.h"
#include "provider/tsp_provider.h"

namespace {

constexpr DWORD kVersion = 0x00020002;
const auto kLine = reinterpret_cast<HTAPILINE>(0x5100);

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzing::UseOwnSettings("\"NumLines\"=dword:00000001\r\n\"ChargeFormat\"=dword:00000002\r\n\"ChargePerUnit\"=\"0.06\"\r\n");
  QelSkipSettleForFuzzing(true);
  DWORD options = 0;
  if (TSPI_providerInit(kVersion, 1, 0, 0, 1, 0, fuzzing::Tapi::Completion, &options) != 0) std::abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzzing::Tapi::Reset();
  fuzzing::SettingsStore store(data, size);
  const fuzzing::TraceShare trace(store);
  HDRVLINE line = nullptr;
  if (g_TspLineMap.LineOpen(0, kLine, &line, fuzzing::Tapi::Event) != 0) std::abort();
  FuzzInput in(data, size);
  CFrameAssembler assembler;
  CFrameAssembler::Clock::time_point receivedAt{};
  DRV_REQUESTID request = 1;
  while (!in.Empty()) {
    const std::uint8_t op = in.Byte();
    if (op < 128) {
      // Bytes from the phone, framed as the receive thread frames them, after a
      // pause of up to twice the one that abandons a frame.
      receivedAt += CFrameAssembler::kAbandonPause * in.Byte() / 128;
      const std::string bytes = in.Bytes(300);
      assembler.Feed(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), receivedAt,
                     [](const std::uint8_t* packet, std::size_t length) {
                       g_TspLineMap.OnTargetMsg(CByteArray(packet, packet + length), 0);
                     });
      fuzzing::RunWorker();
      continue;
    }
    const HDRVCALL call = fuzzing::Tapi::PickCall(in);
    switch (op % 12) {
      case 0: {
        const std::u16string number = in.Wide(40);
        HDRVCALL made = nullptr;
        const DRV_REQUESTID id = request++;
        g_TspLineMap.LineMakeCall(id, line, reinterpret_cast<HTAPICALL>(0x9000 + id), &made,
                                  number.c_str(), 0, nullptr);
        break;
      }
      case 1:
        g_TspLineMap.LineDial(request++, call, in.Wide(40).c_str(), 0);
        break;
      case 2:
        g_TspLineMap.LineAnswer(request++, call, nullptr, 0);
        break;
      case 3:
        g_TspLineMap.LineDrop(request++, call, nullptr, 0);
        break;
      case 4:
        g_TspLineMap.LineHold(request++, call);
        break;
      case 5:
        g_TspLineMap.LineUnhold(request++, call);
        break;
      case 6:
        g_TspLineMap.LineBlindTransfer(request++, call, in.Wide(40).c_str(), 0);
        break;
      case 7:
        g_TspLineMap.LineCloseCall(call);
        break;
      case 8: {
        // TAPI passes at least the fixed part it negotiated.
        fuzzing::GuardedStructure info(kLineCallInfoSize20 + in.Byte() * 2);
        g_TspLineMap.LineGetCallInfo(call, info.As<LINECALLINFO>());
        break;
      }
      case 9: {
        fuzzing::GuardedStructure status(56 + in.Byte() % 16);
        g_TspLineMap.LineGetCallStatus(call, status.As<LINECALLSTATUS>());
        break;
      }
      case 10: {
        HDRVCALL consult = nullptr;
        const DRV_REQUESTID id = request++;
        g_TspLineMap.LineSetupTransfer(id, call, reinterpret_cast<HTAPICALL>(0x9900 + id), &consult,
                                       nullptr);
        break;
      }
      default:
        g_TspLineMap.LineGenerateDigits(call, request++, 0, in.Wide(20).c_str(), 0);
        break;
    }
    fuzzing::RunWorker();
  }
  // Every call goes with its line.
  g_TspLineMap.LineClose(line);
  fuzzing::RunWorker();
  fuzzing::Tapi::Reset();
  return 0;
}
