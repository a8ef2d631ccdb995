// What the benchmark programs share: a sandbox of their own for settings, trace
// and COM ports, the wire's own times, order statistics, and the figure lines
// that bench/run gathers into its table.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace bench {

// 9600 baud, one start, eight data and one stop bit.
inline constexpr double kWireMsPerByte = 10.0 * 1000.0 / 9600.0;
inline double WireMs(std::size_t bytes) { return static_cast<double>(bytes) * kWireMsPerByte; }

// The pacing of the provider's writes: after a line end, and after any other byte.
inline constexpr double kPauseAfterLineEndMs = 50.0;
inline constexpr double kPauseAfterByteMs = 20.0;
// "ATB\r" as the pacing spaces it: three bytes, then the line end.
inline constexpr double kConnectWireMs = 3 * kPauseAfterByteMs + kPauseAfterLineEndMs;

// A packet as the phone frames it: STX, length, 0x14, payload, sum, ETX.
std::string Frame(const std::string& payload);

// A directory of its own below the temporary directory, with the settings file
// ($K482_REGISTRY), the COM port links ($K482_DOSDEVICES) and the trace ($TMPDIR)
// pointed into it for the life of the object.
class Sandbox {
 public:
  Sandbox();
  ~Sandbox();
  Sandbox(const Sandbox&) = delete;
  Sandbox& operator=(const Sandbox&) = delete;

  const std::filesystem::path& Dir() const { return dir_; }
  std::string DosDevices() const { return (dir_ / "dosdevices").string(); }
  std::string TraceLog() const { return (dir_ / "kavrtsp.log").string(); }
  // Writes the settings key with these DWORD and string values, replacing it.
  void WriteSettings(const std::vector<std::pair<std::string, std::uint32_t>>& dwords,
                     const std::vector<std::pair<std::string, std::string>>& strings = {});

 private:
  std::filesystem::path dir_;
  std::vector<std::pair<std::string, std::string>> saved_;
};

double Milliseconds(std::chrono::steady_clock::duration duration);
double Microseconds(std::chrono::steady_clock::duration duration);

// The value below which the given fraction of the samples lies (nearest rank).
double Quantile(std::vector<double> samples, double fraction);
double Mean(const std::vector<double>& samples);

// One row of bench/run's table: what was measured, the figure, its limit or the
// wire's reference, and the ratio between them (text, already formatted).
void PrintFigure(const std::string& what, const std::string& figure, const std::string& reference,
                 const std::string& ratio);
std::string Format(const char* format, double value);

}  // namespace bench
