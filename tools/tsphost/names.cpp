#include "tools/tsphost/names.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <iterator>

namespace tsphost {
namespace {

struct Constant {
  const char* name;
  DWORD value;
};

#define K482_TSPHOST_CONSTANT(name, value) {#name, value},
constexpr Constant kConstants[] = {K482_TAPI_CONSTANTS(K482_TSPHOST_CONSTANT)};
#undef K482_TSPHOST_CONSTANT

bool HasPrefix(const char* name, const char* prefix) { return std::strncmp(name, prefix, std::strlen(prefix)) == 0; }

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

std::string Hex(DWORD value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(value));
  return text;
}

// The family a state's mode belongs to.
const char* ModeFamily(DWORD state) {
  switch (state) {
    case LINECALLSTATE_DISCONNECTED:
      return kDisconnectModeNames;
    case LINECALLSTATE_DIALTONE:
      return kDialToneModeNames;
    case LINECALLSTATE_OFFERING:
      return kOfferingModeNames;
    case LINECALLSTATE_CONNECTED:
      return kConnectedModeNames;
    default:
      return nullptr;
  }
}

}  // namespace

std::optional<std::string> NameOf(const char* prefix, DWORD value) {
  for (const Constant& constant : kConstants) {
    if (constant.value == value && HasPrefix(constant.name, prefix)) return constant.name + std::strlen(prefix);
  }
  return std::nullopt;
}

std::optional<DWORD> ValueOf(const char* prefix, const std::string& name) {
  std::string wanted = Upper(name);
  if (HasPrefix(wanted.c_str(), prefix)) wanted.erase(0, std::strlen(prefix));
  for (const Constant& constant : kConstants) {
    if (HasPrefix(constant.name, prefix) && wanted == constant.name + std::strlen(prefix)) return constant.value;
  }
  return std::nullopt;
}

std::string BitNames(const char* prefix, DWORD value) {
  if (value == 0) return "none";
  std::string text;
  for (int bit = 0; bit < 32; ++bit) {
    const DWORD mask = DWORD{1} << bit;
    if ((value & mask) == 0) continue;
    if (!text.empty()) text += ' ';
    text += NameOf(prefix, mask).value_or(Hex(mask));
  }
  return text;
}

std::string CallStateName(DWORD state) { return NameOf(kCallStateNames, state).value_or(Hex(state)); }

std::string ModeName(DWORD state, DWORD mode) {
  const char* family = ModeFamily(state);
  if (family == nullptr || mode == 0) return {};
  return NameOf(family, mode).value_or(Hex(mode));
}

std::optional<DWORD> ModeValue(DWORD state, const std::string& name) {
  const char* family = ModeFamily(state);
  if (family == nullptr) return std::nullopt;
  return ValueOf(family, name);
}

std::string ResultText(LONG result) {
  if (result >= 0) return std::to_string(result);
  const DWORD code = static_cast<DWORD>(result);
  const auto name = NameOf(kLineErrorNames, code);
  return (name ? std::string(kLineErrorNames) + *name + " (" + Hex(code) + ")" : Hex(code));
}

std::optional<LONG> ParseResult(const std::string& text) {
  if (text.empty()) return std::nullopt;
  if (const auto code = ValueOf(kLineErrorNames, text)) return static_cast<LONG>(*code);
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const char* first = text.data() + (hex ? 2 : 0);
  const char* last = text.data() + text.size();
  std::uint64_t number = 0;
  const auto parsed = std::from_chars(first, last, number, hex ? 16 : 10);
  if (parsed.ec != std::errc() || parsed.ptr != last || number > 0xFFFFFFFFu) return std::nullopt;
  return static_cast<LONG>(static_cast<DWORD>(number));
}

std::string MessageName(DWORD message) {
  for (const Constant& constant : kConstants) {
    // LINE_ messages only: TSPI_MESSAGE_BASE shares LINE_NEWCALL's value.
    if (constant.value == message && HasPrefix(constant.name, "LINE_")) return constant.name;
  }
  return "message " + std::to_string(message);
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace tsphost
