// Pseudo-terminals, and the process arrangements around holding one. They exist
// only on POSIX and serve the phone simulator: it plays the phone on the master
// side while the provider, natively or under Wine, opens the slave as its COM
// port. There is deliberately no Win32 half.
#pragma once

#if defined(_WIN32)
#error "platform/pty.h is POSIX-only: pseudo-terminals serve the phone simulator"
#endif

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

enum class PtyRead {
  kData,        // bytes were read
  kTimeout,     // nothing arrived; the other side has the line open (or never opened it)
  kPeerClosed,  // nothing arrived and nobody has the other side open
  kFailed,      // the line is unusable (not open, or a device error)
};

// The simulator's end of a serial line: the master of a new pseudo-terminal, or a
// terminal device opened by path (a real cable). Either way the line is raw,
// 9600 baud 8N1, no flow control. Read and Write may run at the same time on two
// threads; Close only once neither runs.
class PseudoTerminal {
 public:
  PseudoTerminal();
  ~PseudoTerminal();
  PseudoTerminal(const PseudoTerminal&) = delete;
  PseudoTerminal& operator=(const PseudoTerminal&) = delete;

  // A new pseudo-terminal whose slave is already raw, so a peer that does not set
  // the line up itself still gets CR as CR. 0 or the errno value.
  int Create();
  // A terminal device instead of a new pseudo-terminal. 0 or the errno value.
  int OpenDevice(const std::string& path);
  bool IsOpen() const;
  // What the other side opens: the slave of a pseudo-terminal, or the device path.
  const std::string& PeerPath() const { return peerPath_; }

  // A symbolic link at linkPath to the slave, so the peer finds the line under a
  // fixed name (a Wine prefix's dosdevices/com7). A symbolic link already there
  // is replaced; anything else is left alone and gives EEXIST. Close removes the
  // link again while it still points at this slave. 0 or the errno value.
  int CreateLink(const std::string& linkPath);
  const std::string& LinkPath() const { return linkPath_; }

  // Makes the slave the controlling terminal of this process, which must lead a
  // session that has none (see EnterOwnSession). A session leader that later opens
  // the slave without O_NOCTTY (wineserver does) would otherwise take it and be
  // sent SIGHUP when the line hangs up. 0 or the errno value.
  int TakeAsControllingTerminal();

  // Waits up to timeoutMs for bytes from the other side and reads up to size of
  // them into buffer (*count). While nobody has the other side open the wait is
  // sat out in short naps rather than returning at once, so a caller looping on
  // Read never spins; a peer that opens meanwhile is served within a nap.
  PtyRead Read(std::uint8_t* buffer, std::size_t size, int timeoutMs, std::size_t* count);
  // Writes all size bytes, waiting at most timeoutMs for room. False when they did
  // not all go out (the rest is dropped).
  bool Write(const std::uint8_t* data, std::size_t size, int timeoutMs);
  // Releases the line and removes the link made by CreateLink. Idempotent.
  void Close();

 private:
  int fd_ = -1;
  bool isPty_ = false;
  std::string peerPath_;
  std::string linkPath_;
};

// Puts this process into a session of its own, so that it can hold a pseudo-
// terminal as its controlling terminal. A process group leader (a job started
// from an interactive shell) cannot start a session; it forks instead: the child
// returns here in the new session, and the parent stays behind only to pass
// SIGINT, SIGTERM and SIGHUP on to it and to exit with its status. Call it first
// thing in main, before any thread exists. 0 or the errno value.
int EnterOwnSession();

// Blocks SIGINT, SIGTERM and SIGHUP in the calling thread and every thread it
// starts later, and ignores SIGPIPE; WaitForTerminationSignal then collects them.
void BlockTerminationSignals();
// Waits for one of the blocked termination signals and returns its number.
int WaitForTerminationSignal();
// Sends SIGTERM to this process, which ends a WaitForTerminationSignal.
void RaiseTermination();

}  // namespace platform
