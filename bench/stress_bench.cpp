// The call model at full speed, without the wire: one thread plays the phone and
// hands incoming calls' packets to the line map as the port worker does, while
// another plays TAPI (one request at a time, as the provider asks) answering,
// querying and closing every call. Counts call cycles per second and lock
// time-outs: a request refused because a lock could not be had, or any step that
// took as long as the shortest lock bound.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>

#include "bench/bench_support.h"
#include "bench/provider_bench.h"
#include "provider/settle.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// The shortest lock wait in the provider (a line's lock); a step this slow waited one out.
constexpr auto kLockBound = 1000ms;

struct Outcome {
  long cycles = 0;
  long lockTimeouts = 0;
  long refused = 0;
  double seconds = 0;
  double slowestStepMs = 0;
};

class Stress {
 public:
  Stress(bench::Sandbox& sandbox, std::chrono::milliseconds length) : provider_(sandbox), length_(length) {}

  bool Run(Outcome* outcome) {
    if (!provider_.Open()) return false;
    const Clock::time_point start = Clock::now();
    std::thread tapi([this] { PlayTapi(); });
    PlayPhone(start + length_);
    {
      std::lock_guard lock(guard_);
      stop_ = true;
    }
    changed_.notify_all();
    tapi.join();
    outcome->seconds = bench::Milliseconds(Clock::now() - start) / 1000.0;
    outcome->cycles = cycles_;
    outcome->lockTimeouts = lockTimeouts_;
    outcome->refused = refused_;
    outcome->slowestStepMs = slowestMs_;
    return true;
  }

 private:
  template <typename Step>
  LONG Timed(Step step) {
    const Clock::time_point start = Clock::now();
    const LONG result = step();
    const Clock::duration took = Clock::now() - start;
    double expected = slowestMs_.load();
    const double ms = bench::Milliseconds(took);
    while (ms > expected && !slowestMs_.compare_exchange_weak(expected, ms)) {
    }
    if (took >= kLockBound || result == static_cast<LONG>(LINEERR_OPERATIONFAILED)) ++lockTimeouts_;
    return result;
  }

  // An incoming call offered, answered by TAPI, connected, cleared by the far
  // end, freed; the next one comes when TAPI has closed it.
  void PlayPhone(Clock::time_point until) {
    while (Clock::now() < until) {
      const long cycle = cycles_.load();
      Timed([&] { provider_.Phone("A0301234:10"); return 0L; });
      Timed([&] { provider_.Report(0x04, 0xFF, 0xFF); return 0L; });
      if (!WaitFor([&] { return answered_ > cycle; })) break;
      Timed([&] { provider_.Report(0x06, 0xFF, 0xFF); return 0L; });
      Timed([&] { provider_.Phone("S10"); return 0L; });
      Timed([&] { provider_.Report(0x01, 0xFF, 0xFF); return 0L; });
      Timed([&] { provider_.Report(0xFF, 0xFF, 0xFF); return 0L; });
      if (!WaitFor([&] { return closed_ > cycle; })) break;
      ++cycles_;
    }
  }

  void PlayTapi() {
    alignas(8) unsigned char buffer[2048];
    DRV_REQUESTID request = 1;
    HDRVCALL answeredCall = nullptr;
    for (;;) {
      {
        std::lock_guard lock(guard_);
        if (stop_) return;
      }
      const bench::InProcessProvider::Newest newest = bench::InProcessProvider::NewestCall();
      const HDRVCALL call = newest.call;
      const DWORD state = newest.state;
      // Between the steps, what an application asks all the time.
      auto* status = reinterpret_cast<LINECALLSTATUS*>(buffer);
      status->dwTotalSize = sizeof buffer;
      if (call != nullptr) Timed([&] { return TSPI_lineGetCallStatus(call, status); });
      auto* info = reinterpret_cast<LINECALLINFO*>(buffer);
      info->dwTotalSize = sizeof buffer;
      if (call != nullptr) Timed([&] { return TSPI_lineGetCallInfo(call, info); });
      auto* line = reinterpret_cast<LINEDEVSTATUS*>(buffer);
      line->dwTotalSize = sizeof buffer;
      Timed([&] { return TSPI_lineGetLineDevStatus(provider_.Line(), line); });

      if (call != nullptr && call != answeredCall && state == LINECALLSTATE_OFFERING) {
        const LONG result = Timed([&] { return TSPI_lineAnswer(request, call, nullptr, 0); });
        if (result != static_cast<LONG>(request)) ++refused_;
        ++request;
        answeredCall = call;
        Signal(&answered_);
      } else if (call != nullptr && call == answeredCall && state == LINECALLSTATE_IDLE) {
        Timed([&] { return TSPI_lineCloseCall(call); });
        answeredCall = nullptr;
        Signal(&closed_);
      }
    }
  }

  void Signal(std::atomic<long>* counter) {
    {
      std::lock_guard lock(guard_);
      ++*counter;
    }
    changed_.notify_all();
  }

  template <typename Condition>
  bool WaitFor(Condition condition) {
    std::unique_lock lock(guard_);
    return changed_.wait_for(lock, 5s, [&] { return stop_ || condition(); });
  }

  bench::InProcessProvider provider_;
  std::chrono::milliseconds length_;
  std::mutex guard_;
  std::condition_variable changed_;
  bool stop_ = false;
  std::atomic<long> answered_{0};
  std::atomic<long> closed_{0};
  std::atomic<long> cycles_{0};
  std::atomic<long> lockTimeouts_{0};
  std::atomic<long> refused_{0};
  std::atomic<double> slowestMs_{0};
};

long CountInFile(const std::string& path, const std::string& text) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  const std::string log = content.str();
  long count = 0;
  for (std::size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) ++count;
  return count;
}

bool RunOnce(bool settle, bool trace, std::chrono::milliseconds length, Outcome* outcome, long* tracedTimeouts) {
  bench::Sandbox sandbox;
  sandbox.WriteSettings({{"NumLines", 1}, {"NumPhones", 0}, {"Trace", trace ? 1u : 0u}});
  QelSkipSettleForFuzzing(!settle);
  bool ran = false;
  {
    Stress stress(sandbox, length);
    ran = stress.Run(outcome);
  }
  QelSkipSettleForFuzzing(false);
  *tracedTimeouts = trace ? CountInFile(sandbox.TraceLog(), "timeout") : 0;
  return ran;
}

void Print(const std::string& what, const Outcome& outcome, long tracedTimeouts, bool traced) {
  bench::PrintFigure(what + bench::Format(", %.1f s", outcome.seconds),
                     bench::Format("%.0f call cycles/s", static_cast<double>(outcome.cycles) / outcome.seconds) +
                         bench::Format(" (slowest step %.1f ms)", outcome.slowestStepMs),
                     "-", "-");
  const long timeouts = outcome.lockTimeouts + tracedTimeouts;
  bench::PrintFigure(what + ": lock time-outs" + (traced ? " (steps and trace)" : " (steps)"),
                     std::to_string(timeouts) + (outcome.refused != 0 ? ", " + std::to_string(outcome.refused) +
                                                                            " answers refused"
                                                                      : ""),
                     "limit 0", timeouts == 0 ? "0" : std::to_string(timeouts));
}

}  // namespace

int main(int argc, char** argv) {
  auto length = 5000ms;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--smoke") {
      length = 500ms;
    } else if (arg == "--seconds" && i + 1 < argc) {
      length = std::chrono::milliseconds(1000 * std::max(1, std::atoi(argv[++i])));
    } else {
      std::fprintf(stderr, "usage: %s [--smoke] [--seconds N]\n", argv[0]);
      return 2;
    }
  }
  struct Variant {
    const char* what;
    bool settle;
    bool trace;
  };
  const Variant variants[] = {
      {"call model stress, Trace 0, settle pauses skipped (as the fuzzers)", false, false},
      {"call model stress, Trace 1, settle pauses skipped", false, true},
      {"call model stress, Trace 0, settle pauses kept", true, false},
  };
  for (const Variant& variant : variants) {
    Outcome outcome;
    long traced = 0;
    if (!RunOnce(variant.settle, variant.trace, length, &outcome, &traced)) {
      std::fprintf(stderr, "stress_bench: the provider did not open its line\n");
      return 1;
    }
    Print(variant.what, outcome, traced, variant.trace);
  }
  return 0;
}
