// The provider module against the simulated phone on a pseudo-terminal, loaded
// and driven as the telephony service drives it, with every figure beside the
// wire's own time: report to event, lineOpen against "ATB\r", the pacing of the
// commands as the phone heard them, and what the provider's threads do while
// the line is idle.
#include <algorithm>
#include <cmath>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_support.h"
#include "platform/module.h"
// Bound by name from the loaded module, never linked.
#define K482_TSPI_TYPES_ONLY
#include "tapi/tspi.h"
#include "tools/phonesim/simulator.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr DWORD kVersion = 0x00020002;
constexpr DWORD kProviderId = 9;
const auto kTapiLine = reinterpret_cast<HTAPILINE>(0x5100);

// The module's exports, bound by name as the telephony service binds them.
struct Exports {
#define K482_BENCH_MEMBER(name, params) name##_fn* name = nullptr;
  K482_TSPI_ENTRY_POINTS(K482_BENCH_MEMBER)
#undef K482_BENCH_MEMBER

  // The entry points this benchmark calls; the others may be missing (TUISPI ones are).
  bool Bind(const platform::LoadedModule& module) {
#define K482_BENCH_BIND(name, params) name = reinterpret_cast<name##_fn*>(module.Symbol(#name));
    K482_TSPI_ENTRY_POINTS(K482_BENCH_BIND)
#undef K482_BENCH_BIND
    return TSPI_lineNegotiateTSPIVersion && TSPI_providerEnumDevices && TSPI_providerInit && TSPI_providerShutdown &&
           TSPI_lineOpen && TSPI_lineClose && TSPI_lineGenerateDigits && TSPI_lineHold;
  }
};

// What TAPI was told, with the time it was told.
struct EventLog {
  std::mutex guard;
  std::condition_variable changed;
  long callStates = 0;
  Clock::time_point lastCallState{};
  HDRVCALL newestCall = nullptr;
  std::uintptr_t nextTapiCall = 0x7001;
};
EventLog g_events;

void TAPI_CALLBACK OnEvent(HTAPILINE, HTAPICALL, DWORD message, DWORD_PTR param1, DWORD_PTR param2, DWORD_PTR) {
  const Clock::time_point now = Clock::now();
  std::lock_guard lock(g_events.guard);
  if (message == LINE_NEWCALL) {
    *reinterpret_cast<HTAPICALL*>(param2) = reinterpret_cast<HTAPICALL>(g_events.nextTapiCall++);
    g_events.newestCall = reinterpret_cast<HDRVCALL>(param1);
  } else if (message == LINE_CALLSTATE) {
    ++g_events.callStates;
    g_events.lastCallState = now;
  }
  g_events.changed.notify_all();
}

void TAPI_CALLBACK OnCompletion(DRV_REQUESTID, LONG) {}

// What the phone put on the line, with the time each write began.
struct WriteLog {
  std::mutex guard;
  std::condition_variable changed;
  std::vector<std::pair<std::string, Clock::time_point>> writes;
};
WriteLog g_writes;

// Context switches of each thread of this process, by thread id.
std::map<int, long> ContextSwitches() {
  std::map<int, long> figures;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task", error)) {
    std::ifstream status(entry.path() / "status");
    long total = 0;
    std::string key;
    while (status >> key) {
      long value = 0;
      if (key == "voluntary_ctxt_switches:" || key == "nonvoluntary_ctxt_switches:") {
        status >> value;
        total += value;
      }
    }
    figures[std::stoi(entry.path().filename().string())] = total;
  }
  return figures;
}

std::set<int> Threads() {
  std::set<int> ids;
  for (const auto& [id, switches] : ContextSwitches()) ids.insert(id);
  return ids;
}

struct Options {
  std::string module = K482_MODULE_PATH;
  int reports = 1000;
  int tracedReports = 200;
  int opens = 5;
  int idleSeconds = 10;
  int paceRounds = 10;
};

class WireBench {
 public:
  explicit WireBench(const Options& options) : options_(options) {}

  int Run() {
    phonesim::Options simOptions;
    simOptions.link = sandbox_.DosDevices() + "/com5";
    simOptions.written = [](const std::string& bytes, phonesim::TimePoint begun, phonesim::TimePoint) {
      std::lock_guard lock(g_writes.guard);
      g_writes.writes.emplace_back(bytes, begun);
      g_writes.changed.notify_all();
    };
    sim_ = std::make_unique<phonesim::Simulator>(simOptions);
    if (!sim_->Start()) return Fail("the simulated phone did not start");
    sandbox_.WriteSettings({{"PortNr", 4}, {"NumLines", 1}, {"NumPhones", 0}, {"Trace", 0}});

    std::string error;
    if (!module_.Load(options_.module, &error)) return Fail("cannot load " + options_.module + ": " + error);
    if (!tspi_.Bind(module_)) return Fail("missing exports");

    const std::set<int> hostThreads = Threads();
    DWORD version = 0;
    tspi_.TSPI_lineNegotiateTSPIVersion(INITIALIZE_NEGOTIATION, 0x00010003, 0x00020002, &version);
    DWORD lines = 0;
    DWORD phones = 0;
    tspi_.TSPI_providerEnumDevices(kProviderId, &lines, &phones, reinterpret_cast<HPROVIDER>(0x99), nullptr,
                                   nullptr);
    DWORD tspiOptions = 0;
    const Clock::time_point initStart = Clock::now();
    if (tspi_.TSPI_providerInit(kVersion, kProviderId, 0, 0, 1, 0, OnCompletion, &tspiOptions) != 0) {
      return Fail("providerInit failed");
    }
    const double initMs = bench::Milliseconds(Clock::now() - initStart);
    const std::set<int> withWorker = Threads();

    // lineOpen and lineClose, each the last line, so the port is opened and closed every time.
    std::vector<double> openMs;
    std::vector<double> closeMs;
    for (int round = 0; round < options_.opens; ++round) {
      if (!OpenLine(&openMs)) return Fail("lineOpen failed");
      if (round + 1 < options_.opens) CloseLine(&closeMs);
    }
    const std::set<int> withLink = Threads();

    MeasureIdle(hostThreads, withWorker, withLink);
    if (!ConnectCall()) return Fail("no connected call");
    const Latencies plain = ReportLatencies(options_.reports);

    // Once more with the trace on, which the provider reads when a line opens.
    CloseLine(&closeMs);
    sandbox_.WriteSettings({{"PortNr", 4}, {"NumLines", 1}, {"NumPhones", 0}, {"Trace", 1}});
    if (!OpenLine(nullptr)) return Fail("lineOpen with trace failed");
    if (!ConnectCall()) return Fail("no connected call with trace");
    const Latencies traced = ReportLatencies(options_.tracedReports);
    // Last: the phone takes the digits as a call of its own.
    MeasurePacing();
    CloseLine(&closeMs);

    const Clock::time_point shutdownStart = Clock::now();
    tspi_.TSPI_providerShutdown(kVersion, kProviderId);
    const double shutdownMs = bench::Milliseconds(Clock::now() - shutdownStart);
    module_.Unload();
    sim_->Stop();

    PrintLatency("report to LINE_CALLSTATE over the line, Trace 0", plain);
    PrintLatency("report to LINE_CALLSTATE over the line, Trace 1", traced);
    bench::PrintFigure("lineOpen with a live phone (mean of " + std::to_string(openMs.size()) + ")",
                       bench::Format("%.1f ms", bench::Mean(openMs)) +
                           bench::Format(" (max %.1f)", bench::Quantile(openMs, 1.0)),
                       bench::Format("\"ATB\\r\" on the wire %.0f ms, limit 1.2x", bench::kConnectWireMs),
                       bench::Format("%.2f", bench::Mean(openMs) / bench::kConnectWireMs));
    bench::PrintFigure("lineClose of the last line (mean of " + std::to_string(closeMs.size()) + ")",
                       bench::Format("%.1f ms", bench::Mean(closeMs)) +
                           bench::Format(" (max %.1f)", bench::Quantile(closeMs, 1.0)),
                       "nothing goes on the wire", "-");
    bench::PrintFigure("providerInit", bench::Format("%.1f ms", initMs), "nothing goes on the wire", "-");
    bench::PrintFigure("providerShutdown", bench::Format("%.1f ms", shutdownMs), "nothing goes on the wire", "-");
    PrintPacing();
    PrintIdle();
    return 0;
  }

 private:
  int Fail(const std::string& why) {
    std::fprintf(stderr, "wire_bench: %s\n", why.c_str());
    if (sim_) sim_->Stop();
    return 1;
  }

  bool OpenLine(std::vector<double>* durations) {
    const std::size_t seen = sim_->CommandLines().size();
    const Clock::time_point start = Clock::now();
    const LONG result = tspi_.TSPI_lineOpen(0, kTapiLine, &hdLine_, kVersion, OnEvent);
    const double ms = bench::Milliseconds(Clock::now() - start);
    if (result != 0) return false;
    if (durations != nullptr) durations->push_back(ms);
    return sim_->WaitForCommand("ATB", 5s, seen).has_value();
  }

  void CloseLine(std::vector<double>* durations) {
    const Clock::time_point start = Clock::now();
    tspi_.TSPI_lineClose(hdLine_);
    durations->push_back(bench::Milliseconds(Clock::now() - start));
    hdLine_ = nullptr;
  }

  // Sends one report and waits until TAPI has been told; the time from the
  // start of the write that put its last byte on the line to the event.
  bool SendReport(const std::string& payload, double* microseconds) {
    long states = 0;
    std::size_t writes = 0;
    {
      std::lock_guard lock(g_events.guard);
      states = g_events.callStates;
    }
    {
      std::lock_guard lock(g_writes.guard);
      writes = g_writes.writes.size();
    }
    sim_->SendPacket(payload);
    Clock::time_point event{};
    {
      std::unique_lock lock(g_events.guard);
      if (!g_events.changed.wait_for(lock, 2s, [&] { return g_events.callStates > states; })) return false;
      event = g_events.lastCallState;
    }
    // Our packet's own write: the phone may still be sending something else.
    const std::string frame = bench::Frame(payload);
    Clock::time_point begun{};
    std::unique_lock lock(g_writes.guard);
    const bool written = g_writes.changed.wait_for(lock, 2s, [&] {
      for (std::size_t i = writes; i < g_writes.writes.size(); ++i) {
        if (g_writes.writes[i].first == frame) {
          begun = g_writes.writes[i].second;
          return true;
        }
      }
      return false;
    });
    if (!written) return false;
    *microseconds = bench::Microseconds(event - begun);
    return true;
  }

  // A call dialled at the phone and connected, in the provider's view.
  bool ConnectCall() {
    double ignored = 0;
    if (!SendReport(std::string("C\x03\xFF\xFF", 4), &ignored)) return false;
    if (!SendReport(std::string("C\x06\xFF\xFF", 4), &ignored)) return false;
    std::lock_guard lock(g_events.guard);
    hdCall_ = g_events.newestCall;
    return hdCall_ != nullptr;
  }

  struct Latencies {
    std::vector<double> samples;
    int lost = 0;
  };

  Latencies ReportLatencies(int count) {
    Latencies latencies;
    bool held = false;
    for (int i = 0; i < count; ++i) {
      held = !held;
      double us = 0;
      if (!SendReport(std::string{'C', static_cast<char>(held ? 0x07 : 0x06), '\xFF', '\xFF'}, &us)) {
        std::fprintf(stderr, "wire_bench: report %d reached TAPI not at all\n", i);
        ++latencies.lost;
        continue;
      }
      latencies.samples.push_back(us);
    }
    return latencies;
  }

  void PrintLatency(const std::string& what, const Latencies& latencies) {
    const std::vector<double>& samples = latencies.samples;
    const double wireUs = bench::WireMs(bench::Frame("C\x06\xFF\xFF").size()) * 1000.0;
    const double p99 = bench::Quantile(samples, 0.99);
    bench::PrintFigure(what + " (" + std::to_string(samples.size()) + " reports" +
                           (latencies.lost != 0 ? ", " + std::to_string(latencies.lost) + " lost" : "") + ")",
                       bench::Format("p50 %.0f us", bench::Quantile(samples, 0.5)) + bench::Format(", p99 %.0f us", p99) +
                           bench::Format(", max %.0f us", bench::Quantile(samples, 1.0)),
                       bench::Format("report on the wire %.0f us, limit p99 1/10", wireUs),
                       bench::Format("p99 %.3f", p99 / wireUs));
  }

  // Digits for the connected call, then at once a hold: the port worker writes
  // both commands back to back, so the phone hears the pause after a CR too.
  void MeasurePacing() {
    for (int round = 0; round < options_.paceRounds; ++round) {
      const std::size_t seen = sim_->CommandLines().size();
      tspi_.TSPI_lineGenerateDigits(hdCall_, 0x100 + static_cast<DWORD>(round), LINEDIGITMODE_DTMF, u"0123456789", 0);
      tspi_.TSPI_lineHold(0x200 + static_cast<DRV_REQUESTID>(round), hdCall_);
      sim_->WaitForCommand("ATR", 5s, seen);
    }
  }

  void PrintPacing() {
    std::vector<double> afterByte;
    std::vector<double> afterLineEnd;
    const std::vector<phonesim::ReceivedByte> bytes = sim_->ReceivedBytes();
    for (std::size_t i = 0; i + 1 < bytes.size(); ++i) {
      const double gap = bench::Milliseconds(bytes[i + 1].at - bytes[i].at);
      if (bytes[i].value != '\r') {
        afterByte.push_back(gap);
      } else if (bytes[i + 1].value == 'A' && i >= 10 && bytes[i - 1].value == '9') {
        // Only a CR that another queued command followed: the digits' line, then the hold.
        afterLineEnd.push_back(gap);
      }
    }
    // The simulator stamps bytes when its reader takes them off the line; a
    // reader woken late stamps two bytes at once, which shows as one short and
    // one long gap. The 90th percentile of the deviations is the figure to read.
    auto deviations = [](const std::vector<double>& gaps, double target) {
      std::vector<double> off;
      for (const double gap : gaps) off.push_back(std::abs(gap - target));
      return off;
    };
    const std::vector<double> byteOff = deviations(afterByte, bench::kPauseAfterByteMs);
    const std::vector<double> lineOff = deviations(afterLineEnd, bench::kPauseAfterLineEndMs);
    bench::PrintFigure("pacing after a byte, as the phone heard it (" + std::to_string(afterByte.size()) + " gaps)",
                       bench::Format("mean %.2f ms", bench::Mean(afterByte)) +
                           bench::Format(", deviation p90 %.2f ms", bench::Quantile(byteOff, 0.9)) +
                           bench::Format(", worst %.2f ms", bench::Quantile(byteOff, 1.0)),
                       bench::Format("%.0f ms", bench::kPauseAfterByteMs),
                       bench::Format("%.3f", bench::Mean(afterByte) / bench::kPauseAfterByteMs));
    bench::PrintFigure("pacing after CR, as the phone heard it (" + std::to_string(afterLineEnd.size()) + " gaps)",
                       bench::Format("mean %.2f ms", bench::Mean(afterLineEnd)) +
                           bench::Format(", deviation p90 %.2f ms", bench::Quantile(lineOff, 0.9)) +
                           bench::Format(", worst %.2f ms", bench::Quantile(lineOff, 1.0)),
                       bench::Format("%.0f ms", bench::kPauseAfterLineEndMs),
                       bench::Format("%.3f", bench::Mean(afterLineEnd) / bench::kPauseAfterLineEndMs));
  }

  void MeasureIdle(const std::set<int>& host, const std::set<int>& withWorker, const std::set<int>& withLink) {
    for (const int id : withLink) {
      if (host.count(id) != 0) continue;
      idleThreads_.push_back({id, withWorker.count(id) != 0 ? "port worker" : "receive thread"});
    }
    // The phone's answers to the last open (echo, OK, its report) arrive after
    // the open has returned: the quiet starts once they are handled.
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const std::map<int, long> before = ContextSwitches();
    std::this_thread::sleep_for(std::chrono::seconds(options_.idleSeconds));
    const std::map<int, long> after = ContextSwitches();
    for (IdleThread& thread : idleThreads_) {
      const auto was = before.find(thread.id);
      const auto is = after.find(thread.id);
      thread.wakeUps = was != before.end() && is != after.end() ? is->second - was->second : -1;
    }
  }

  void PrintIdle() {
    long total = 0;
    std::string detail;
    for (const IdleThread& thread : idleThreads_) {
      total += std::max(thread.wakeUps, 0L);
      if (!detail.empty()) detail += ", ";
      detail += thread.role + " " + std::to_string(thread.wakeUps);
    }
    bench::PrintFigure("wake-ups of the provider's threads, line open, " + std::to_string(options_.idleSeconds) +
                           " s idle",
                       std::to_string(total) + " (" + detail + ")", "limit 0", total == 0 ? "0" : std::to_string(total));
  }

  struct IdleThread {
    int id;
    std::string role;
    long wakeUps = -1;
  };

  Options options_;
  bench::Sandbox sandbox_;
  std::unique_ptr<phonesim::Simulator> sim_;
  platform::LoadedModule module_;
  Exports tspi_;
  HDRVLINE hdLine_ = nullptr;
  HDRVCALL hdCall_ = nullptr;
  std::vector<IdleThread> idleThreads_;
};

}  // namespace

int main(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--smoke") {
      options.reports = 50;
      options.tracedReports = 20;
      options.opens = 2;
      options.idleSeconds = 1;
      options.paceRounds = 2;
    } else if (arg == "--module" && i + 1 < argc) {
      options.module = argv[++i];
    } else if (arg == "--reports" && i + 1 < argc) {
      options.reports = std::max(1, std::atoi(argv[++i]));
    } else if (arg == "--idle" && i + 1 < argc) {
      options.idleSeconds = std::max(1, std::atoi(argv[++i]));
    } else {
      std::fprintf(stderr, "usage: %s [--smoke] [--module PATH] [--reports N] [--idle SECONDS]\n", argv[0]);
      return 2;
    }
  }
  return WireBench(options).Run();
}
