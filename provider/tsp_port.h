// The port worker: the one thread that owns the phone link, runs the phone
// commands other threads post to it one at a time, and processes the packets the
// serial receive thread queues.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "platform/mutex.h"
#include "platform/thread.h"
#include "provider/byte_queue.h"

class CPhonePort;
class CTspLine;

// Thread messages of the port worker.
inline constexpr std::uint32_t WM_TSP_CONNECT = platform::kMsgUser + 10;
inline constexpr std::uint32_t WM_TSP_CANREAD = platform::kMsgUser + 11;
inline constexpr std::uint32_t WM_TSP_MAKECALL = platform::kMsgUser + 20;
inline constexpr std::uint32_t WM_TSP_ANSWER = platform::kMsgUser + 21;
inline constexpr std::uint32_t WM_TSP_DROP = platform::kMsgUser + 22;
inline constexpr std::uint32_t WM_TSP_ONHOOK = platform::kMsgUser + 23;
inline constexpr std::uint32_t WM_TSP_REJECT = platform::kMsgUser + 24;
inline constexpr std::uint32_t WM_TSP_HOLD = platform::kMsgUser + 25;
inline constexpr std::uint32_t WM_TSP_UNHOLD = platform::kMsgUser + 26;
inline constexpr std::uint32_t WM_TSP_DIAL = platform::kMsgUser + 28;
inline constexpr std::uint32_t WM_TSP_BLINDTRANSFER = platform::kMsgUser + 29;
inline constexpr std::uint32_t WM_TSP_CONFERENCE = platform::kMsgUser + 30;
inline constexpr std::uint32_t WM_TSP_UPDATECONFIG = platform::kMsgUser + 40;
// The link watch: a phone to give up or to ask again (CSlurpPort::CheckLink).
inline constexpr std::uint32_t WM_TSP_LINKCHECK = platform::kMsgUser + 41;

// The worker's view of the link.
inline constexpr std::int32_t kLinkClosed = 0;
inline constexpr std::int32_t kLinkOpen = 1;
inline constexpr std::int32_t kLinkConnected = 3;

class CTspPort : public platform::MessageLoopThread {
 public:
  // Waits for the port lock before each use of the link.
  static constexpr std::uint32_t kLockTimeoutMs = 3000;
  static constexpr std::uint32_t kDestructorLockTimeoutMs = 6000;

  CTspPort();
  ~CTspPort() override;

  // 1 when taken, 0 when not. The owner is recorded for diagnostics only.
  int Lock(std::uint32_t timeoutMs);
  // 1 when released, 0 when the release failed.
  int Unlock();
  int IsConnected() const { return m_nLinkState.load() == kLinkConnected ? 1 : 0; }
  // Whether the COM port is open, connected or not.
  bool IsOpen() const { return m_nLinkState.load() != kLinkClosed; }
  // Opens and connects the phone link: negative on failure.
  int Open(std::uint32_t portNr, int portType, std::uint32_t mode, std::uint32_t baudRate, const char* text1,
           const char* text2);
  // Open on the configured port (PortNr 0 is COM1).
  int OpenFromConfig();
  // Closes the phone link: 0, or -1 when the lock could not be taken.
  int Close();
  // Hands one received packet to the phone port, under the port lock.
  void ProcessMsg(const CByteArray& packet, CTspLine* line);
  void PostUpdateConfig();
  // A report that came before the line was open is compared with its calls now.
  void ReconcileWithLine(CTspLine* line);
  // Tests that hand the phone's packets straight to the line map have no phone
  // to answer on a link: they say whether it counts as connected.
  void SetConnectedForTesting(bool connected) { m_nLinkState.store(connected ? kLinkConnected : kLinkClosed); }
  // The link itself, for inspection (null once released).
  CPhonePort* GetPhonePort() const { return m_pPort.get(); }

  // Whether the pointer refers to a port worker that has not been destroyed.
  static bool IsLive(const CTspPort* port);
  // Whether the calling thread holds some port worker's lock (the line map's
  // lock must never be asked for then).
  static bool HeldByCurrentThread();

 protected:
  bool InitInstance() override;
  void OnMessage(std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam) override;
  int ExitInstance() override;

 private:
  void OnConnect(std::uintptr_t wParam, std::intptr_t lParam);
  void OnCanRead(std::uintptr_t wParam, std::intptr_t lParam);
  void OnMakeCall(std::uintptr_t wParam, std::intptr_t lParam);
  void OnDial(std::uintptr_t wParam, std::intptr_t lParam);
  void OnAnswer(std::uintptr_t wParam, std::intptr_t lParam);
  void OnDrop(std::uintptr_t wParam, std::intptr_t lParam);
  void OnOnhook(std::uintptr_t wParam, std::intptr_t lParam);
  void OnReject(std::uintptr_t wParam, std::intptr_t lParam);
  void OnHold(std::uintptr_t wParam, std::intptr_t lParam);
  void OnUnhold(std::uintptr_t wParam, std::intptr_t lParam);
  void OnBlindTransfer(std::uintptr_t wParam, std::intptr_t lParam);
  void OnConference(std::uintptr_t wParam, std::intptr_t lParam);
  void OnUpdateConfig(std::uintptr_t wParam, std::intptr_t lParam);
  void OnLinkCheck(std::uintptr_t wParam, std::intptr_t lParam);
  // One phone command under the port lock, with the handler's trace texts.
  template <typename Command>
  void RunCommand(const char* handler, const char* firstText, bool warnWhenSkipped, std::intptr_t call,
                  Command command);

  std::atomic<std::int32_t> m_nLinkState{kLinkClosed};
  platform::Mutex m_Mutex;
  // Written under the lock, read by the diagnostics of a thread that failed to get it.
  std::atomic<std::uint32_t> m_dwLockOwner{0};
  std::unique_ptr<CPhonePort> m_pPort;
};
