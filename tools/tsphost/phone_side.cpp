#include "tools/tsphost/phone_side.h"

#include <chrono>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

namespace tsphost {
namespace {

using namespace std::chrono_literals;

// How often the log is looked at while a reply is awaited.
constexpr auto kLogPoll = 20ms;
constexpr char kHeardMark[] = "] <- ";

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

}  // namespace

bool IsRefusal(const std::string& reply) {
  static const char* const kRefusals[] = {"refused:", "usage:", "unknown command", "not a regular expression",
                                          "timed out waiting for"};
  for (const char* refusal : kRefusals) {
    if (reply.rfind(refusal, 0) == 0) return true;
  }
  return false;
}

PhoneFiles::PhoneFiles(std::string commandFile, std::string logFile, std::chrono::milliseconds replyBound)
    : commandFile_(std::move(commandFile)), logFile_(std::move(logFile)), replyBound_(replyBound) {}

std::vector<std::string> PhoneFiles::ReadNewLines() {
  std::ifstream in(logFile_, std::ios::binary);
  in.seekg(static_cast<std::streamoff>(readTo_));
  if (!in) return {};
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::size_t end = text.rfind('\n');
  if (end == std::string::npos) return {};
  text.resize(end + 1);
  readTo_ += text.size();
  std::vector<std::string> lines = Lines(text);
  for (const std::string& line : lines) {
    const std::size_t mark = line.find(kHeardMark);
    if (mark == std::string::npos || line.empty() || line[0] != '[') continue;
    std::string heard = line.substr(mark + sizeof kHeardMark - 1);
    // A remark may follow the line, two blanks apart: "ATB  (silent: not answered)".
    if (const std::size_t remark = heard.find("  "); remark != std::string::npos) heard.resize(remark);
    heard_.push_back(std::move(heard));
  }
  return lines;
}

bool PhoneFiles::Command(const std::string& line, std::string* reply) {
  // Whatever phonesim said before this command is no answer to it.
  ReadNewLines();
  {
    std::ofstream out(commandFile_, std::ios::app | std::ios::binary);
    out << line << '\n';
    out.flush();
    if (!out) {
      *reply = "cannot write to " + commandFile_;
      return false;
    }
  }
  const auto deadline = std::chrono::steady_clock::now() + replyBound_;
  for (;;) {
    for (const std::string& candidate : ReadNewLines()) {
      if (!candidate.empty() && candidate[0] != '[') {
        *reply = candidate;
        return !IsRefusal(candidate);
      }
    }
    if (std::chrono::steady_clock::now() >= deadline) break;
    std::this_thread::sleep_for(kLogPoll);
  }
  *reply = "phonesim did not answer (is it following " + commandFile_ + "?)";
  return false;
}

std::vector<std::string> PhoneFiles::Heard() {
  ReadNewLines();
  return heard_;
}

void PhoneFiles::Forget() {
  ReadNewLines();
  std::vector<std::string>().swap(heard_);
}

}  // namespace tsphost
