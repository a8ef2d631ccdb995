#include "common/tsp_config.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "platform/registry.h"

namespace {

namespace reg = platform::registry;

constexpr char kParentKey[] = "SOFTWARE\\BRAMLO";
constexpr std::size_t kNameLimit = 255;
constexpr std::uint32_t kTextBufferSize = 256;

constexpr char kCurrency[] = "Currency";
constexpr char kMsnPrefix[] = "MSN";
constexpr char kChargePerUnit[] = "ChargePerUnit";
constexpr char kChargeFormat[] = "ChargeFormat";
constexpr char kPortNr[] = "PortNr";
constexpr char kTrace[] = "Trace";
constexpr char kNumLines[] = "NumLines";
constexpr char kNumPhones[] = "NumPhones";

constexpr char kDefaultCurrency[] = "EUR";
constexpr char kDefaultMsn[] = "0";
constexpr char kDefaultChargePerUnit[] = "0";
// Charging information as an AOC-D currency component when nothing else is chosen.
constexpr std::uint32_t kDefaultChargeFormat = 4;
// ChargePerUnit is kept in ten-thousandths of the currency unit.
constexpr double kChargeScale = 10000.0;

std::string MsnName(int index) {
  char name[32];
  std::snprintf(name, sizeof name, "%s%i", kMsnPrefix, index);
  return name;
}

// Deletes every value and subkey of an open key, subkeys depth first.
void EmptyKey(reg::Key& key, const std::string& path) {
  std::string name;
  while (key.EnumSubKey(0, &name) == reg::kSuccess) {
    reg::Key child;
    if (child.Open(path + "\\" + name, reg::Access::kAllAccess) == reg::kSuccess) {
      EmptyKey(child, path + "\\" + name);
      child.Close();
    }
    if (key.DeleteSubKey(name) != reg::kSuccess) break;
  }
  while (key.EnumValue(0, &name) == reg::kSuccess) {
    if (key.DeleteValue(name) != reg::kSuccess) break;
  }
}

// The C library's atof, without its dependence on the process locale: a host
// application that set a German locale must not turn "0.06" into 0.
double ParseDecimal(const std::string& text) {
  std::size_t at = 0;
  while (at < text.size() && (text[at] == ' ' || (text[at] >= '\t' && text[at] <= '\r'))) ++at;
  if (at < text.size() && text[at] == '+') ++at;
  double value = 0;
  const auto result = std::from_chars(text.data() + at, text.data() + text.size(), value);
  return result.ec == std::errc() ? value : 0.0;
}

}  // namespace

CTspConfig::CTspConfig(const char* subKey) {
  m_szKeyPath[0] = '\0';
  m_szSubKey[0] = '\0';
  SetKey(subKey);
}

CTspConfig::~CTspConfig() = default;

int CTspConfig::SetKey(const char* subKey) {
  if (subKey == nullptr || std::strlen(subKey) >= kNameLimit) return -20;
  char path[sizeof m_szKeyPath];
  const int length = std::snprintf(path, sizeof path, "%s\\%s", kParentKey, subKey);
  // The full path must fit too; a long name would otherwise run past the array.
  if (length < 0 || static_cast<std::size_t>(length) >= sizeof path) return -20;
  std::memcpy(m_szSubKey, subKey, std::strlen(subKey) + 1);
  std::memcpy(m_szKeyPath, path, static_cast<std::size_t>(length) + 1);
  reg::Key probe;
  probe.Open(m_szKeyPath, reg::Access::kRead);
  return 0;
}

int CTspConfig::ReadValue(std::uint32_t /*type*/, const char* name, void* buffer, std::uint32_t* size) {
  reg::Key key;
  if (key.Open(m_szKeyPath, reg::Access::kRead) != reg::kSuccess) return -1;
  if (key.QueryValue(name, nullptr, buffer, size) != reg::kSuccess) return -2;
  return 0;
}

int CTspConfig::WriteString(const char* name, const char* text) {
  reg::Key key;
  if (key.Create(m_szKeyPath) != reg::kSuccess) return -10;
  if (key.SetValue(name, reg::kTypeString, text, static_cast<std::uint32_t>(std::strlen(text) + 1)) != reg::kSuccess) {
    return -11;
  }
  return 0;
}

int CTspConfig::WriteDword(const char* name, std::uint32_t value) {
  reg::Key key;
  if (key.Create(m_szKeyPath) != reg::kSuccess) return -10;
  const unsigned char bytes[4] = {static_cast<unsigned char>(value), static_cast<unsigned char>(value >> 8),
                                  static_cast<unsigned char>(value >> 16), static_cast<unsigned char>(value >> 24)};
  if (key.SetValue(name, reg::kTypeDword, bytes, sizeof bytes) != reg::kSuccess) return -11;
  return 0;
}

std::string CTspConfig::ReadString(const char* name, const char* fallback) {
  char buffer[kTextBufferSize] = {};
  std::uint32_t size = sizeof buffer;
  if (ReadValue(reg::kTypeString, name, buffer, &size) != 0) {
    WriteString(name, fallback);
    return fallback;
  }
  buffer[size < kTextBufferSize - 1 ? size : kTextBufferSize - 1] = '\0';
  return buffer;
}

std::uint32_t CTspConfig::ReadDword(const char* name) {
  unsigned char bytes[4] = {};
  std::uint32_t size = sizeof bytes;
  if (ReadValue(reg::kTypeDword, name, bytes, &size) != 0) {
    WriteDword(name, 0);
    return 0;
  }
  // Little-endian as the registry stores it; a shorter value (a text of up to
  // four bytes, say) reads as the number its bytes make.
  return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
         static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

std::string CTspConfig::GetCurrency() { return ReadString(kCurrency, kDefaultCurrency); }
std::string CTspConfig::GetMSN(int index) { return ReadString(MsnName(index).c_str(), kDefaultMsn); }
std::string CTspConfig::GetChargePerUnit() { return ReadString(kChargePerUnit, kDefaultChargePerUnit); }
std::uint32_t CTspConfig::GetChargeFormat() { return ReadDword(kChargeFormat); }
std::uint32_t CTspConfig::GetPortNr() { return ReadDword(kPortNr); }
std::uint32_t CTspConfig::GetTrace() { return ReadDword(kTrace); }
std::uint32_t CTspConfig::GetNumLines() { return ReadDword(kNumLines); }
std::uint32_t CTspConfig::GetNumPhones() { return ReadDword(kNumPhones); }

int CTspConfig::SetCurrency(const char* text) { return WriteString(kCurrency, text) == 0 ? 1 : 0; }
int CTspConfig::SetMSN(int index, const char* text) { return WriteString(MsnName(index).c_str(), text) == 0 ? 1 : 0; }
int CTspConfig::SetChargePerUnit(const char* text) { return WriteString(kChargePerUnit, text) == 0 ? 1 : 0; }
int CTspConfig::SetChargeFormat(std::uint32_t value) { return WriteDword(kChargeFormat, value) == 0 ? 1 : 0; }
int CTspConfig::SetPortNr(std::uint32_t value) { return WriteDword(kPortNr, value) == 0 ? 1 : 0; }
int CTspConfig::SetTrace(std::uint32_t value) { return WriteDword(kTrace, value) == 0 ? 1 : 0; }
int CTspConfig::SetNumLines(std::uint32_t value) { return WriteDword(kNumLines, value) == 0 ? 1 : 0; }
int CTspConfig::SetNumPhones(std::uint32_t value) { return WriteDword(kNumPhones, value) == 0 ? 1 : 0; }

int CTspConfig::RemoveKey() {
  reg::Key key;
  if (key.Open(m_szKeyPath, reg::Access::kAllAccess) != reg::kSuccess) return 1;
  EmptyKey(key, m_szKeyPath);
  key.Close();
  reg::Key parent;
  if (parent.Open(kParentKey, reg::Access::kAllAccess) == reg::kSuccess) parent.DeleteSubKey(m_szSubKey);
  return 1;
}

void ReadChargeSettings(ChargeSettings* settings) {
  CTspConfig config(kTspConfigKey);
  settings->strCurrency = config.GetCurrency();
  const double price = ParseDecimal(config.GetChargePerUnit());
  const double scaled = price * kChargeScale;
  // A price that is not positive, or too large for the 32-bit fixed-point field,
  // is unusable; converting it would be undefined, so it reads as no price.
  if (price > 0 && std::isfinite(scaled) && scaled < 4294967296.0) {
    settings->dwChargePerUnit = static_cast<std::uint32_t>(scaled);
  } else {
    settings->dwChargePerUnit = 0;
    config.SetChargePerUnit(kDefaultChargePerUnit);
  }
  settings->dwChargeFormat = config.GetChargeFormat();
  if (settings->dwChargeFormat == 0) {
    settings->dwChargeFormat = kDefaultChargeFormat;
    config.SetChargeFormat(kDefaultChargeFormat);
  }
}
