// Dial strings and the conversions between TAPI's wide text and ANSI.
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz/fuzz_input.h"
#include "platform/text.h"
#include "provider/tapi_events.h"
#include "provider/tsp_call.h"

namespace {

bool OnlyDialable(const char* text) {
  for (; *text != '\0'; ++text) {
    if (std::strchr("0123456789*#", *text) == nullptr) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput in(data, size);
  const std::string narrow = in.Bytes(255);
  std::string number;
  std::string postDial;
  CTspCall::ParseDialString(narrow.c_str(), &number, &postDial);
  if (!OnlyDialable(number.c_str()) || !OnlyDialable(postDial.c_str())) std::abort();

  const std::u16string wide = in.Wide(300);
  const int bufferSize = in.Byte() % 40;
  char buffer[64];
  std::memset(buffer, 'x', sizeof buffer);
  const int kept = QelWideCharToDialableString(wide.c_str(), buffer, bufferSize);
  if (bufferSize > 0 && (std::strlen(buffer) >= static_cast<std::size_t>(bufferSize) || !OnlyDialable(buffer))) {
    std::abort();
  }
  if (kept > 0 && static_cast<std::size_t>(kept) != std::strlen(buffer)) std::abort();
  for (int at = bufferSize > 0 ? bufferSize : 0; at < static_cast<int>(sizeof buffer); ++at) {
    if (buffer[at] != 'x') std::abort();  // never past the buffer
  }

  std::string converted;
  const int length = QelWideCharToString(wide.c_str(), &converted);
  if (length >= 0 && static_cast<std::size_t>(length) != converted.size()) std::abort();

  char ansi[32];
  const int outSize = in.Byte() % 33;
  const int written = platform::WideToAnsi(wide.c_str(), -1, ansi, outSize);
  if (written > outSize && outSize > 0) std::abort();
  char16_t back[32];
  platform::AnsiToWide(narrow.c_str(), -1, back, in.Byte() % 33);
  return 0;
}
