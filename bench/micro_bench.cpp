// The provider's own work per unit of the phone's: framing, one call-state
// report up to TAPI's event procedure, the charging part of call information,
// and a trace call with tracing off. Each figure is printed beside the wire time
// of what caused the work.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "bench/provider_bench.h"
#include "provider/frame_assembler.h"
#include "provider/trace.h"

namespace {

using bench::Frame;

// What the phone says during an ordinary outgoing call: echo, result, reports,
// the connected number, a charge, the end.
std::string SessionStream() {
  std::string stream = "ATD0301234\rOK\r\n";
  for (const std::string& payload :
       {std::string("C\x03\xFF\xFF"), std::string("C\x05\xFF\xFF"), std::string("V0301234"),
        std::string("C\x06\xFF\xFF"), std::string("G12"), std::string("S10"), std::string("C\x01\xFF\xFF"),
        std::string("L110"), std::string("C\xFF\xFF\xFF")}) {
    stream += Frame(payload);
  }
  return stream;
}

void BM_FrameAssembler(benchmark::State& state) {
  std::string stream;
  while (stream.size() < 64 * 1024) stream += SessionStream();
  const auto chunk = static_cast<std::size_t>(state.range(0));
  CFrameAssembler assembler;
  std::size_t packets = 0;
  const CFrameAssembler::Emit count = [&packets](const std::uint8_t*, std::size_t) { ++packets; };
  for (auto _ : state) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(stream.data());
    for (std::size_t at = 0; at < stream.size(); at += chunk) {
      assembler.Feed(bytes + at, std::min(chunk, stream.size() - at), CFrameAssembler::Clock::time_point{}, count);
    }
    benchmark::DoNotOptimize(packets);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(stream.size()));
}
BENCHMARK(BM_FrameAssembler)->Arg(1)->Arg(1024);

// A call dialled at the phone and connected; each report then moves it between
// connected and held, one LINE_CALLSTATE each.
void BM_CallStateReport(benchmark::State& state) {
  bench::Sandbox sandbox;
  bench::InProcessProvider provider(sandbox);
  if (!provider.Open()) {
    state.SkipWithError("the provider did not open its line");
    return;
  }
  provider.Report(0x03, 0xFF, 0xFF);
  provider.Report(0x06, 0xFF, 0xFF);
  const long before = bench::InProcessProvider::CallStates();
  bool held = false;
  for (auto _ : state) {
    held = !held;
    provider.Report(held ? 0x07 : 0x06, 0xFF, 0xFF);
  }
  if (bench::InProcessProvider::CallStates() - before != static_cast<long>(state.iterations())) {
    state.SkipWithError("a report did not reach TAPI as one call state");
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}
BENCHMARK(BM_CallStateReport);

// TSPI_lineGetCallInfo of a connected outgoing call that was charged 12 units,
// in charging format 1 to 4; format 0 is the same call without a charge.
void BM_ChargingCallInfo(benchmark::State& state) {
  const auto format = static_cast<std::uint32_t>(state.range(0));
  bench::Sandbox sandbox;
  sandbox.WriteSettings({{"NumLines", 1}, {"NumPhones", 0}, {"Trace", 0}, {"ChargeFormat", format == 0 ? 1 : format}},
                        {{"ChargePerUnit", "0.12"}, {"Currency", "EUR"}});
  bench::InProcessProvider provider(sandbox);
  if (!provider.Open()) {
    state.SkipWithError("the provider did not open its line");
    return;
  }
  provider.Report(0x03, 0xFF, 0xFF);
  provider.Report(0x06, 0xFF, 0xFF);
  if (format != 0) provider.Phone("G12");
  const HDRVCALL call = bench::InProcessProvider::NewestCall().call;
  alignas(8) unsigned char buffer[2048] = {};
  auto* info = reinterpret_cast<LINECALLINFO*>(buffer);
  DWORD charging = 0;
  for (auto _ : state) {
    info->dwTotalSize = sizeof buffer;
    if (TSPI_lineGetCallInfo(call, info) != 0) {
      state.SkipWithError("lineGetCallInfo failed");
      break;
    }
    charging = info->dwChargingInfoSize;
    benchmark::ClobberMemory();
  }
  if (format != 0 && format != 3 && charging == 0) state.SkipWithError("no charging information");
  state.counters["charging_bytes"] = charging;
}
BENCHMARK(BM_ChargingCallInfo)->DenseRange(0, 4);

// The commonest trace line of a report, with tracing off and, for reference, on.
void TraceReportLine(benchmark::State& state, bool enabled) {
  bench::Sandbox sandbox;
  QelTraceOpen();
  QelTraceSetEnabled(enabled ? 1 : 0);
  unsigned value = 0;
  for (auto _ : state) {
    ++value;
    QelTrace("        Reading call state  0x%02X, 0x%02X, 0x%02X\r\n", value & 0xFF, 0xFFu, 0xFFu);
  }
  QelTraceClose();
}
void BM_TraceOff(benchmark::State& state) { TraceReportLine(state, false); }
void BM_TraceOn(benchmark::State& state) { TraceReportLine(state, true); }
BENCHMARK(BM_TraceOff);
BENCHMARK(BM_TraceOn);

void BM_TraceEnterReturnOff(benchmark::State& state) {
  bench::Sandbox sandbox;
  QelTraceOpen();
  QelTraceSetEnabled(0);
  DWORD value = 0;
  for (auto _ : state) {
    ++value;
    const TraceParam params[] = {{"hdCall", TraceValue(value), kTraceNumber, kTraceIn}};
    const TraceFunc func{"TSPI_lineGetCallStatus", 1, params, 0};
    QelTraceEnter(&func);
    benchmark::DoNotOptimize(QelTraceReturn(&func, 0));
  }
  QelTraceClose();
}
BENCHMARK(BM_TraceEnterReturnOff);

// Keeps each benchmark's result for the figure lines printed after the run.
class FigureReporter : public benchmark::ConsoleReporter {
 public:
  // No colours: bench/run reads the figure lines after the table.
  FigureReporter() : ConsoleReporter(OO_Tabular) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.error_occurred || run.run_type != Run::RT_Iteration) continue;
      Result& result = results_[run.benchmark_name()];
      result.nsPerIteration = run.GetAdjustedRealTime() * ToNs(run.time_unit);
      const auto bytes = run.counters.find("bytes_per_second");
      result.bytesPerSecond = bytes != run.counters.end() ? static_cast<double>(bytes->second) : 0.0;
    }
    ConsoleReporter::ReportRuns(runs);
  }

  void PrintFigures() const {
    const double reportWireUs = bench::WireMs(Frame("C\x06\xFF\xFF").size()) * 1000.0;
    const double chargeWireUs = bench::WireMs(Frame("G12").size()) * 1000.0;
    const double wireBytesPerSecond = 1000.0 / bench::kWireMsPerByte;
    for (const char* chunk : {"1", "1024"}) {
      if (const Result* result = Find(std::string("BM_FrameAssembler/") + chunk)) {
        bench::PrintFigure(std::string("frame assembler, reads of ") + chunk + " byte(s)",
                           bench::Format("%.1f MB/s", result->bytesPerSecond / 1e6),
                           bench::Format("wire %.0f B/s", wireBytesPerSecond),
                           bench::Format("%.0fx the wire", result->bytesPerSecond / wireBytesPerSecond));
      }
    }
    if (const Result* result = Find("BM_CallStateReport")) {
      bench::PrintFigure("one call-state report to LINE_CALLSTATE (in process)",
                         bench::Format("%.2f us", result->nsPerIteration / 1000.0),
                         bench::Format("report on the wire %.0f us", reportWireUs),
                         bench::Format("%.5f", result->nsPerIteration / 1000.0 / reportWireUs));
    }
    const Result* plain = Find("BM_ChargingCallInfo/0");
    for (int format = 1; format <= 4; ++format) {
      const Result* result = Find("BM_ChargingCallInfo/" + std::to_string(format));
      if (result == nullptr) continue;
      const double extra = plain != nullptr ? result->nsPerIteration - plain->nsPerIteration : result->nsPerIteration;
      bench::PrintFigure("lineGetCallInfo with charging, format " + std::to_string(format),
                         bench::Format("%.2f us", result->nsPerIteration / 1000.0) +
                             bench::Format(" (charging part %.2f us)", extra / 1000.0),
                         bench::Format("charge report on the wire %.0f us", chargeWireUs),
                         bench::Format("%.5f", result->nsPerIteration / 1000.0 / chargeWireUs));
    }
    const Result* off = Find("BM_TraceOff");
    const Result* on = Find("BM_TraceOn");
    if (off != nullptr) {
      bench::PrintFigure("trace call, tracing off", bench::Format("%.1f ns", off->nsPerIteration),
                         on != nullptr ? bench::Format("tracing on %.1f us", on->nsPerIteration / 1000.0) : "-",
                         on != nullptr ? bench::Format("%.5f", off->nsPerIteration / on->nsPerIteration) : "-");
    }
    if (const Result* result = Find("BM_TraceEnterReturnOff")) {
      bench::PrintFigure("entry and exit record, tracing off", bench::Format("%.1f ns", result->nsPerIteration),
                         bench::Format("report on the wire %.0f us", reportWireUs),
                         bench::Format("%.7f", result->nsPerIteration / 1000.0 / reportWireUs));
    }
  }

 private:
  struct Result {
    double nsPerIteration = 0;
    double bytesPerSecond = 0;
  };
  static double ToNs(benchmark::TimeUnit unit) {
    switch (unit) {
      case benchmark::kSecond: return 1e9;
      case benchmark::kMillisecond: return 1e6;
      case benchmark::kMicrosecond: return 1e3;
      default: return 1.0;
    }
  }
  const Result* Find(const std::string& name) const {
    const auto found = results_.find(name);
    return found != results_.end() ? &found->second : nullptr;
  }
  std::map<std::string, Result> results_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 2;
  FigureReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintFigures();
  benchmark::Shutdown();
  return 0;
}
