#include "bench/bench_support.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <numeric>
#include <random>

namespace bench {

namespace {

const char* const kVariables[] = {"K482_REGISTRY", "K482_DOSDEVICES", "TMPDIR", "TMP", "TEMP"};

}  // namespace

Sandbox::Sandbox() {
  std::random_device random;
  dir_ = std::filesystem::temp_directory_path() / ("k482-bench-" + std::to_string(random()));
  std::filesystem::create_directories(dir_ / "dosdevices");
  for (const char* name : kVariables) {
    const char* value = std::getenv(name);
    saved_.emplace_back(name, value != nullptr ? value : std::string("\x01"));
  }
  setenv("K482_REGISTRY", (dir_ / "registry.reg").c_str(), 1);
  setenv("K482_DOSDEVICES", DosDevices().c_str(), 1);
  for (const char* name : {"TMPDIR", "TMP", "TEMP"}) setenv(name, dir_.c_str(), 1);
  WriteSettings({{"NumLines", 1}, {"NumPhones", 0}, {"Trace", 0}});
}

Sandbox::~Sandbox() {
  for (const auto& [name, value] : saved_) {
    if (value == "\x01") {
      unsetenv(name.c_str());
    } else {
      setenv(name.c_str(), value.c_str(), 1);
    }
  }
  std::error_code ignored;
  std::filesystem::remove_all(dir_, ignored);
}

void Sandbox::WriteSettings(const std::vector<std::pair<std::string, std::uint32_t>>& dwords,
                            const std::vector<std::pair<std::string, std::string>>& strings) {
  const std::filesystem::path file = dir_ / "registry.reg";
  const std::filesystem::path next = dir_ / "registry.reg.next";
  {
    std::ofstream out(next, std::ios::binary);
    out << "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\BRAMLO\\482_TSP]\r\n";
    for (const auto& [name, value] : dwords) {
      char line[96];
      std::snprintf(line, sizeof line, "\"%s\"=dword:%08x\r\n", name.c_str(), value);
      out << line;
    }
    for (const auto& [name, value] : strings) out << '"' << name << "\"=\"" << value << "\"\r\n";
    out << "\r\n";
  }
  std::filesystem::rename(next, file);
}

std::string Frame(const std::string& payload) {
  std::string packet{'\x02', static_cast<char>(payload.size()), '\x14'};
  packet += payload;
  std::uint8_t sum = 0;
  for (const char byte : payload) sum = static_cast<std::uint8_t>(sum + static_cast<std::uint8_t>(byte));
  packet += static_cast<char>(sum);
  packet += '\x03';
  return packet;
}

double Milliseconds(std::chrono::steady_clock::duration duration) {
  return std::chrono::duration<double, std::milli>(duration).count();
}

double Microseconds(std::chrono::steady_clock::duration duration) {
  return std::chrono::duration<double, std::micro>(duration).count();
}

double Quantile(std::vector<double> samples, double fraction) {
  if (samples.empty()) return NAN;
  std::sort(samples.begin(), samples.end());
  const auto rank = static_cast<std::size_t>(std::ceil(fraction * static_cast<double>(samples.size())));
  return samples[std::clamp<std::size_t>(rank, 1, samples.size()) - 1];
}

double Mean(const std::vector<double>& samples) {
  if (samples.empty()) return NAN;
  return std::accumulate(samples.begin(), samples.end(), 0.0) / static_cast<double>(samples.size());
}

void PrintFigure(const std::string& what, const std::string& figure, const std::string& reference,
                 const std::string& ratio) {
  std::printf("FIGURE\t%s\t%s\t%s\t%s\n", what.c_str(), figure.c_str(), reference.c_str(), ratio.c_str());
  std::fflush(stdout);
}

std::string Format(const char* format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

}  // namespace bench
