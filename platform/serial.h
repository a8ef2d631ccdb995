// A serial device opened by its COM port name ("COM1" ...). Win32 opens
// \\.\COMn with overlapped I/O. POSIX maps COMn to $K482_DOSDEVICES/comn when
// that exists (a symlink to any tty, a pseudo-terminal in tests) and else to
// /dev/ttyS(n-1).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace platform {

enum class SerialWait {
  kData,       // characters may be waiting: read them
  kCancelled,  // CancelWait or Close ended the wait
  kError,      // the wait failed; the caller may try again
};

class SerialPort {
 public:
  SerialPort();
  ~SerialPort();
  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;

  // Opens the port for reading and writing, unshared, existing only. 0 or the system
  // error code (another holder of the port gives access denied, 5).
  std::uint32_t Open(const std::string& comName);
  bool IsOpen() const;

  // The phone's line settings, each step's failure ignored as the link expects:
  // baudRate, 8 data bits, no parity, one stop bit, binary, no flow control of any
  // kind, DTR and RTS off, no character replacement; driver buffers of 8192 bytes
  // each way; reads return at once with what is buffered; writes time out after
  // 16 ms per byte; received characters as the only event; both directions purged.
  void Configure(std::uint32_t baudRate);

  // Blocks until characters arrive, the wait is cancelled or fails.
  SerialWait WaitForInput();
  // Takes what is buffered, up to size bytes, without waiting: the count (0 when
  // nothing is there), or -1 with *error set.
  int Read(std::uint8_t* buffer, int size, std::uint32_t* error);
  // Writes one byte within the write time-out: true, or false with *error set.
  bool WriteByte(std::uint8_t byte, std::uint32_t* error);
  // Ends a pending WaitForInput, and every later one, from any thread.
  void CancelWait();
  // Releases the device; safe while another thread is inside WaitForInput or Read
  // (they return first). Idempotent.
  void Close();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The device a COM port name opens on this platform, for traces and tests.
std::string SerialDevicePath(const std::string& comName);

}  // namespace platform
