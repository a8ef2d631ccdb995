// The settings store shared by the provider and its UI module: one registry key,
// HKEY_LOCAL_MACHINE\SOFTWARE\BRAMLO\482_TSP. Nothing is cached; every reader
// constructs one, reads and drops it, and a value that cannot be read is
// replaced by its default, so the key fills itself on first use.
#pragma once

#include <cstdint>
#include <string>

inline constexpr char kTspConfigKey[] = "482_TSP";

// Charging settings a call takes when it is created.
struct ChargeSettings {
  std::uint32_t dwChargeFormat = 0;   // never 0 after the read
  std::uint32_t dwChargePerUnit = 0;  // ten-thousandths of the currency unit
  std::string strCurrency;
};

class CTspConfig {
 public:
  explicit CTspConfig(const char* subKey);
  virtual ~CTspConfig();

  // 0, or -20 (nothing changed) when the name or the key path it makes is too long.
  int SetKey(const char* subKey);
  const char* GetKeyPath() const { return m_szKeyPath; }

  // 0, -1 when the key cannot be opened, -2 when the value cannot be read into
  // the buffer. *size: in, the buffer's size; out, the bytes read.
  int ReadValue(std::uint32_t type, const char* name, void* buffer, std::uint32_t* size);
  // 0, -10 when the key cannot be created or opened for writing (no administrator
  // rights, say), -11 when the value cannot be set.
  int WriteString(const char* name, const char* text);
  int WriteDword(const char* name, std::uint32_t value);

  std::string GetCurrency();
  std::string GetMSN(int index);
  std::string GetChargePerUnit();
  std::uint32_t GetChargeFormat();
  std::uint32_t GetPortNr();
  std::uint32_t GetTrace();
  std::uint32_t GetNumLines();
  std::uint32_t GetNumPhones();

  // 1 when written, 0 when not: the registry's answer, which callers that
  // save the user's settings must pass on.
  int SetCurrency(const char* text);
  int SetMSN(int index, const char* text);
  int SetChargePerUnit(const char* text);
  int SetChargeFormat(std::uint32_t value);
  int SetPortNr(std::uint32_t value);
  int SetTrace(std::uint32_t value);
  int SetNumLines(std::uint32_t value);
  int SetNumPhones(std::uint32_t value);

  // Deletes the key with all its values and subkeys; SOFTWARE\BRAMLO stays. Returns 1.
  int RemoveKey();

 private:
  std::string ReadString(const char* name, const char* fallback);
  std::uint32_t ReadDword(const char* name);

  char m_szKeyPath[255];
  char m_szSubKey[255];
};

// The charging settings as a call reads them: an unusable price is stored back
// as "0", an unset format as 4.
void ReadChargeSettings(ChargeSettings* settings);
