// The phone and network side of a scenario: phonesim, told what the far end,
// a caller or the cable does, and asked what the phone heard from the provider.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace tsphost {

class PhoneSide {
 public:
  virtual ~PhoneSide() = default;
  // Carries out one phonesim command ("ring 0301234 10", "hangup 1 17"). False
  // when phonesim refused it or did not answer; *reply holds what it said.
  virtual bool Command(const std::string& line, std::string* reply) = 0;
  // The command lines the phone has heard, oldest first, since the last Forget.
  virtual std::vector<std::string> Heard() = 0;
  // Lets go of the lines heard so far: Heard starts afresh.
  virtual void Forget() = 0;
};

// phonesim as a separate program: it follows the file commands are appended to
// (tail -f into its input) and writes its replies and monitor lines to a log.
// Every command is answered by one reply line; monitor lines start with "[".
class PhoneFiles : public PhoneSide {
 public:
  // phonesim answers a plain command at once; replyBound only bounds a phonesim that is gone.
  PhoneFiles(std::string commandFile, std::string logFile,
             std::chrono::milliseconds replyBound = std::chrono::milliseconds(5000));

  bool Command(const std::string& line, std::string* reply) override;
  std::vector<std::string> Heard() override;
  void Forget() override;

 private:
  // The log's complete lines not read before, in order; the heard ones are kept.
  // The log only grows, so a long run reads each byte once.
  std::vector<std::string> ReadNewLines();

  std::string commandFile_;
  std::string logFile_;
  std::chrono::milliseconds replyBound_;
  std::size_t readTo_ = 0;
  std::vector<std::string> heard_;
};

// Whether a phonesim reply says the command was not carried out.
bool IsRefusal(const std::string& reply);

}  // namespace tsphost
