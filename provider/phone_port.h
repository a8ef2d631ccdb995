// The phone link: CSlurpPort owns the COM port, writes paced command bytes and
// runs the receive thread that frames and queues what the phone sends;
// CPhonePort adds the phone's commands and reads its packets.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/serial.h"
#include "platform/thread.h"
#include "provider/byte_queue.h"
#include "provider/frame_assembler.h"

class CTspLine;

// LinkState values.
inline constexpr std::int32_t kLinkStateClosed = 0;      // no port
inline constexpr std::int32_t kLinkStateOpen = 1;        // port open, phone not connected
inline constexpr std::int32_t kLinkStateConnecting = 2;  // the connect command written, the phone not heard yet
inline constexpr std::int32_t kLinkStateConnected = 3;   // the phone answered

class CSlurpPort {
 public:
  // Pauses that pace the writes: after a line end, and after any other byte.
  static constexpr std::uint32_t kPauseAfterLineEndMs = 50;
  static constexpr std::uint32_t kPauseAfterByteMs = 20;
  static constexpr std::uint32_t kReceiveQueueLockMs = 100;
  static constexpr std::uint32_t kRxThreadJoinMs = 10000;
  static constexpr std::uint32_t kNoPortPollMs = 100;
  static constexpr int kReadSize = 1024;
  static constexpr std::uint32_t kBaudRate = 9600;

  using Pause = std::function<void(std::uint32_t milliseconds)>;
  using ReceiveHook = std::function<void()>;
  using Clock = std::chrono::steady_clock;

  // The phone answers every command line at once (its echo, then "OK" or
  // "ERROR"). One that answers nothing for this long after a command is gone:
  // switched off, or the cable pulled. Its answer is on the line within a few
  // milliseconds; the rest is room for a machine under load.
  static constexpr std::chrono::milliseconds kAnswerTimeout{3000};
  // While the phone has not answered, the connect command goes out again this
  // often: a phone sends nothing by itself when it is switched on or plugged in.
  static constexpr std::chrono::milliseconds kAskAgainInterval{2000};
  // A link check the port worker has not run by then is posted again.
  static constexpr std::chrono::milliseconds kLinkCheckRepeat{1000};

  CSlurpPort();
  // Empties the queue; the owner disconnects and closes first.
  virtual ~CSlurpPort();
  CSlurpPort(const CSlurpPort&) = delete;
  CSlurpPort& operator=(const CSlurpPort&) = delete;

  virtual int Close();
  // Writes the connect command; the link is connected once the phone answers.
  virtual int Connect();
  virtual int Disconnect();
  // Sends only while connected: -1, silently, otherwise.
  virtual int Write(const std::uint8_t* bytes, int length);
  int WritePort(const std::uint8_t* bytes, int length);
  int WritePortDelayed(const std::uint8_t* bytes, int length);

  std::int32_t GetLinkState() const { return m_LinkState.load(); }
  // A packet taken from the queue while the link waits for the phone is its
  // answer: the link is connected now. True when this one connected it.
  bool TakeAnswer();
  // When CheckLink has something to do next: nothing while the phone has
  // answered every command. Reads only atomics, so any thread may ask.
  std::optional<Clock::time_point> NextLinkCheck() const;
  bool LinkCheckDue(Clock::time_point now) const;
  // Gives up a connected phone that has answered nothing for kAnswerTimeout
  // (the link waits for it again) and repeats the connect command to a phone
  // not heard for kAskAgainInterval. Returns the link state after.
  std::int32_t CheckLink(Clock::time_point now, const std::function<void()>& givenUp = {});
  std::uint32_t GetPortNr() const { return m_dwPortNr.load(); }
  CByteQueue& GetQueue() { return m_Queue; }
  // Bytes received while the link was not connecting or connected, ignored.
  std::uint64_t GetIgnoredBytes() const { return m_IgnoredBytes.load(); }
  // Tests pace the writes without waiting.
  void SetPause(Pause pause) { m_Pause = std::move(pause); }
  // Tests hold the receive thread here, after each wait for input and before it
  // reads, and shorten the join, to see what a thread that outlives its join
  // may still touch. Both apply from the next open.
  void SetReceiveHook(ReceiveHook hook) { m_ReceiveHook = std::move(hook); }
  void SetRxThreadJoinMs(std::uint32_t milliseconds) { m_dwRxThreadJoinMs = milliseconds; }
  // Tests whose far end answers nothing lengthen the waits of CheckLink.
  void SetAnswerTimes(std::chrono::milliseconds answerTimeout, std::chrono::milliseconds askAgain);

 protected:
  virtual int Open(std::uint32_t portNr, int portType, std::uint32_t baudRate);
  virtual void NotifyConnected() {}
  virtual void NotifyCanRead() {}
  // From the link watch's thread: CheckLink is due. Must not block.
  virtual void NotifyLinkCheck() {}
  // Cuts the receive thread and the link watch off from this object and its
  // device, then waits for them within the join bound: the receive thread's
  // wait's result, kWaitEnded when none ran. A derived class calls it first in
  // its destructor, before its part is gone.
  std::uint32_t StopReceiver();

 private:
  // What one receive thread works with; the thread shares it. Every open makes a
  // new one with a device object of its own, so a thread that outlives its join
  // can never reach a device opened after it, nor this object once cut off.
  struct Receiver;
  static void RxThread(const std::shared_ptr<Receiver>& receiver);
  // Under the receiver's lock, while it still runs.
  void OnReceived(Receiver& receiver, const std::uint8_t* bytes, int length,
                  CFrameAssembler::Clock::time_point receivedAt);
  // The open device, or null; safe beside an open or close on another thread.
  std::shared_ptr<platform::SerialPort> Device() const;
  bool IsPortOpen() const;
  // Writes the connect command, remembering when.
  int Ask(Clock::time_point now);
  // The link watch: a thread that sleeps until the next link check is due
  // (for ever while there is none), then calls NotifyLinkCheck, again every
  // kLinkCheckRepeat until CheckLink has run. Woken whenever the times change.
  struct Watch;
  static void WatchThread(const std::shared_ptr<Watch>& watch);
  void StartWatch();
  void StopWatch();
  std::shared_ptr<Watch> Watcher() const;
  // The times changed; checked: CheckLink has run.
  void WakeWatch(bool checked);

  std::atomic<std::uint32_t> m_dwPortNr{0};
  std::atomic<std::int32_t> m_LinkState{kLinkStateClosed};
  CByteQueue m_Queue;
  mutable std::mutex m_DeviceLock;                 // guards the pointer, not the device
  std::shared_ptr<platform::SerialPort> m_pDevice;  // null while no port is open
  std::shared_ptr<Receiver> m_pReceiver;            // null while no receive thread is meant to run
  std::atomic<std::uint64_t> m_IgnoredBytes{0};
  // When the oldest command the phone has not answered yet went out, and when
  // the connect command last did; kNever for none. Steady clock ticks.
  static constexpr Clock::rep kNever = 0;
  std::atomic<Clock::rep> m_UnansweredSince{kNever};
  std::atomic<Clock::rep> m_AskedAt{kNever};
  std::atomic<std::int64_t> m_AnswerTimeoutMs{kAnswerTimeout.count()};
  std::atomic<std::int64_t> m_AskAgainMs{kAskAgainInterval.count()};
  mutable std::mutex m_WatchLock;  // guards the pointer
  std::shared_ptr<Watch> m_pWatch;  // null while no watch runs; set and cleared by open and close
  platform::Thread m_WatchThread;
  platform::Thread m_RxThread;
  Pause m_Pause;
  ReceiveHook m_ReceiveHook;
  std::uint32_t m_dwRxThreadJoinMs = kRxThreadJoinMs;
};

class CPhonePort : public CSlurpPort {
 public:
  // owner: the thread the connect and packet signals are posted to; may be null.
  CPhonePort(platform::MessageLoopThread* owner, std::uint32_t value);
  ~CPhonePort() override;

  // Opens the port (mode, texts and owner are kept for the record only).
  int OpenEx(std::uint32_t portNr, int portType, std::uint32_t mode, std::uint32_t baudRate, const char* text1,
             const char* text2, void* owner);

  // Phone commands; each returns 0 (-1 when a needed text is missing). Nothing
  // reaches the phone unless the link is connected.
  int Answer(std::uintptr_t requestId);
  int Drop(std::uintptr_t requestId);
  int Reject(std::uintptr_t requestId);
  int OnHook(std::uintptr_t requestId);
  int Hold(std::uintptr_t requestId);
  int Conference(std::uintptr_t requestId);
  // The texts are the call's: its called number, latest digits, transfer destination.
  int MakeCall(std::uintptr_t requestId, const std::string* calledNumber);
  int Dial(std::uintptr_t requestId, const std::string* dialDigits);
  int PostDial(const std::string* postDial);
  int BlindTransfer(std::uintptr_t requestId, const std::string* transferTo);

  // Reads one packet on the port worker's thread; line may be null.
  int ParsePacket(const CByteArray& packet, CTspLine* line);
  void ReadCause(const CByteArray& packet);
  // The phone's call-state report, and a charge report.
  void OnCallStateReport(const CByteArray& packet, CTspLine* line);
  void TranslateChargeInfo(const CByteArray& packet, CTspLine* line);

  // The first report after a connect is compared with the line's calls, not
  // with the reports before: calls the phone kept while the link was down are
  // taken up, calls it ended meanwhile go. A report that comes before the line
  // is open waits for ReconcileWithLine.
  void ReconcileWithLine(CTspLine* line);

  const std::array<std::uint8_t, 4>& GetCallStates() const { return m_CallStates; }
  const CByteArray& GetCallData() const { return m_CallData; }
  std::uint32_t GetLastCause() const { return m_dwLastCause; }

 protected:
  void NotifyConnected() override;
  void NotifyCanRead() override;
  void NotifyLinkCheck() override;

 private:
  int SendFixed(const char* command);
  int SendNumbered(const char* prefix, const std::string& digits);
  void OnStateChanged(const CByteArray& packet, CTspLine* line, int slot);
  void OnStateUnchanged(const CByteArray& packet, CTspLine* line, int slot);
  void ForgetConnectedNumber();
  // Sets the stored states from the line's calls against the report, taking up
  // the calls the phone has and the line does not.
  void Reconcile(const CByteArray& packet, CTspLine* line);

  platform::MessageLoopThread* m_pOwner;
  std::uint32_t m_dwValue;
  std::uint32_t m_dwMode = 0;
  // Slots 1 to 3 as last reported; byte 0 is unused. 0xFF: no call.
  std::array<std::uint8_t, 4> m_CallStates;
  // The last incoming-call ("A") or connected-number ("V") packet.
  CByteArray m_CallData;
  // Disconnect mode from the last cause packet, for the next disconnected call.
  std::uint32_t m_dwLastCause = 0;
  // Set at a connect until a report has been reconciled with an open line.
  bool m_bReconcile = false;
  // A report to be reconciled came before the line was open: its slots are stored.
  bool m_bReportWaiting = false;
};

// TAPI's disconnect mode for an ISDN cause: 0 unless callState is LINECALLSTATE_DISCONNECTED.
std::uint32_t QelGetDisconnectMode(std::uint32_t callState, std::uint32_t cause);
