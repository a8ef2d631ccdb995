// TAPI's side of the asynchronous requests: every request ID handed to the
// provider, what its entry point returned and how it was completed. A TSPI
// provider must complete each request it accepted exactly once, and none it
// refused; the book notices every breach of that.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "tapi/tspi.h"

namespace tsphost {

class RequestBook {
 public:
  // A new request ID for the named request; the entry point is about to be called.
  DRV_REQUESTID Begin(const std::string& what);
  // What the entry point returned. An empty text, or the breach it shows.
  std::string Returned(DRV_REQUESTID id, LONG result);
  // A completion from the provider. An empty text, or the breach it shows.
  std::string Completed(DRV_REQUESTID id, LONG result);

  // The result the request was completed with, if it was.
  std::optional<LONG> CompletionOf(DRV_REQUESTID id) const;
  // Whether the request was completed while its entry point still ran.
  bool CompletedInCall(DRV_REQUESTID id) const;
  // Requests accepted (their ID returned) and not completed, one text each.
  std::vector<std::string> Outstanding() const;
  // Every breach noticed so far.
  std::vector<std::string> Breaches() const;

  struct Counts {
    std::uint64_t made = 0;
    std::uint64_t accepted = 0;
    std::uint64_t refused = 0;
    std::uint64_t completions = 0;
  };
  // Every request since the start, forgotten ones included.
  Counts Tally() const;
  // Drops the requests that are settled (accepted and completed once, or
  // refused), so that a long run keeps a small book. A completion for one of
  // them later still counts as a breach.
  void Forget();

 private:
  struct Request {
    std::string what;
    bool inCall = true;
    std::optional<LONG> returned;
    std::optional<LONG> completion;
    bool completedInCall = false;
    int completions = 0;
  };

  std::string Breach(std::string text);

  mutable std::mutex mutex_;
  DRV_REQUESTID next_ = 1;
  std::map<DRV_REQUESTID, Request> requests_;
  // Requests below this ID that are not in the book were settled and forgotten.
  DRV_REQUESTID forgottenBelow_ = 0;
  Counts counts_;
  std::vector<std::string> breaches_;
};

}  // namespace tsphost
