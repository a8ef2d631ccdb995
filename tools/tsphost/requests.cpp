#include "tools/tsphost/requests.h"

#include "tools/tsphost/names.h"

namespace tsphost {

DRV_REQUESTID RequestBook::Begin(const std::string& what) {
  std::lock_guard lock(mutex_);
  const DRV_REQUESTID id = next_++;
  requests_[id].what = what;
  ++counts_.made;
  return id;
}

std::string RequestBook::Breach(std::string text) {
  breaches_.push_back(text);
  return text;
}

std::string RequestBook::Returned(DRV_REQUESTID id, LONG result) {
  std::lock_guard lock(mutex_);
  Request& request = requests_[id];
  request.inCall = false;
  request.returned = result;
  if (result == static_cast<LONG>(id)) ++counts_.accepted;
  if (result < 0) ++counts_.refused;
  const std::string name = "request " + std::to_string(id) + " (" + request.what + ")";
  if (result >= 0 && result != static_cast<LONG>(id)) {
    return Breach(name + " returned " + std::to_string(result) + ", neither its ID nor an error");
  }
  if (result < 0 && request.completions > 0) {
    return Breach(name + " was refused with " + ResultText(result) + " and completed all the same");
  }
  return {};
}

std::string RequestBook::Completed(DRV_REQUESTID id, LONG result) {
  std::lock_guard lock(mutex_);
  ++counts_.completions;
  const auto found = requests_.find(id);
  if (found == requests_.end() && id != 0 && id < forgottenBelow_) {
    return Breach("request " + std::to_string(id) + " completed again, with " + ResultText(result) +
                  ", after it had been settled");
  }
  if (found == requests_.end()) {
    return Breach("completion of request " + std::to_string(id) + ", which was never made, with " + ResultText(result));
  }
  Request& request = found->second;
  const std::string name = "request " + std::to_string(id) + " (" + request.what + ")";
  ++request.completions;
  if (request.completions > 1) {
    return Breach(name + " completed a second time, with " + ResultText(result) + " after " +
                  ResultText(*request.completion));
  }
  request.completion = result;
  request.completedInCall = request.inCall;
  if (!request.inCall && request.returned && *request.returned < 0) {
    return Breach(name + " was refused with " + ResultText(*request.returned) + " and then completed");
  }
  return {};
}

std::optional<LONG> RequestBook::CompletionOf(DRV_REQUESTID id) const {
  std::lock_guard lock(mutex_);
  const auto found = requests_.find(id);
  return found == requests_.end() ? std::nullopt : found->second.completion;
}

bool RequestBook::CompletedInCall(DRV_REQUESTID id) const {
  std::lock_guard lock(mutex_);
  const auto found = requests_.find(id);
  return found != requests_.end() && found->second.completedInCall;
}

std::vector<std::string> RequestBook::Outstanding() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> texts;
  for (const auto& [id, request] : requests_) {
    if (request.returned && *request.returned == static_cast<LONG>(id) && request.completions == 0) {
      texts.push_back("request " + std::to_string(id) + " (" + request.what + ") was accepted and never completed");
    }
  }
  return texts;
}

std::vector<std::string> RequestBook::Breaches() const {
  std::lock_guard lock(mutex_);
  return breaches_;
}

RequestBook::Counts RequestBook::Tally() const {
  std::lock_guard lock(mutex_);
  return counts_;
}

void RequestBook::Forget() {
  std::lock_guard lock(mutex_);
  std::erase_if(requests_, [](const auto& entry) {
    const auto& [id, request] = entry;
    if (request.inCall || !request.returned) return false;
    const bool accepted = *request.returned == static_cast<LONG>(id);
    return accepted ? request.completions == 1 : request.completions == 0;
  });
  forgottenBelow_ = next_;
}

}  // namespace tsphost
