// The far end of the serial line in tests: what the phone would do
// with its side of the cable. Natively the test process holds the master side of
// a pseudo-terminal itself; a Windows test under Wine cannot create one, so a
// Linux peer (wine_peer.py) holds it and takes orders through files in a
// directory both sides can reach.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace testing_support {

using Bytes = std::vector<std::uint8_t>;

class PhonePeer {
 public:
  virtual ~PhonePeer() = default;

  // The COM port name under which the test reaches this peer.
  virtual std::string PortName() const = 0;
  // Sends data to the port in one write; returns once it is on the line. Orders
  // to the peer are carried out before they return.
  virtual void Send(const Bytes& data) = 0;
  // Everything received from the port since this peer was made.
  virtual Bytes Received() = 0;
  // Stops taking characters off the line, so that the port's writes back up; Resume undoes it.
  virtual void Stall() = 0;
  virtual void Resume() = 0;
  // Drops its side of the line, as a cable pulled at the phone.
  virtual void HangUp() = 0;
  // Whether the line uses flow control (XON/XOFF, which a real port would also
  // send to the phone, or RTS/CTS, which a phone cable need not carry);
  // nullopt where the peer cannot tell.
  virtual std::optional<bool> FlowControl() { return std::nullopt; }
};

// A fresh line for one test, or nullptr with *whyNot set when none can be had here.
std::unique_ptr<PhonePeer> MakePhonePeer(std::string* whyNot);

// Answers, from a thread of its own, the next connect command the peer hears,
// as the phone does (its answer: by default "OK"), while the test waits in a
// call that needs the answer (lineOpen). The thread is joined on destruction.
class ConnectAnswerer {
 public:
  explicit ConnectAnswerer(PhonePeer& peer, Bytes answer = {'O', 'K', '\r', '\n'});
  ~ConnectAnswerer();
  ConnectAnswerer(const ConnectAnswerer&) = delete;
  ConnectAnswerer& operator=(const ConnectAnswerer&) = delete;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace testing_support
