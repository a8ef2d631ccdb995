#include "setup/setup_messages.h"

#include <cstdio>

namespace setup {

LanguageGroup GroupOfLanguage(std::uint16_t langId) {
  switch (langId & 0x3FF) {
    case 0x07:
      return LanguageGroup::kGerman;
    case 0x13:
      return LanguageGroup::kDutch;
    case 0x0C:
      return LanguageGroup::kFrench;
    default:
      return LanguageGroup::kEnglish;
  }
}

int MessageOffset(LanguageGroup group) {
  switch (group) {
    case LanguageGroup::kGerman:
      return 0;
    case LanguageGroup::kDutch:
      return 1;
    case LanguageGroup::kFrench:
      return 3;
    case LanguageGroup::kEnglish:
      break;
  }
  return 2;
}

const char* ReadMeName(LanguageGroup group) {
  switch (group) {
    case LanguageGroup::kGerman:
      return "ReadMe_D";
    case LanguageGroup::kDutch:
      return "ReadMe_NL";
    case LanguageGroup::kFrench:
      return "ReadMe_F";
    case LanguageGroup::kEnglish:
      break;
  }
  return "ReadMe";
}

int MessageId(Message message, LanguageGroup group) { return static_cast<int>(message) + MessageOffset(group); }

BoxStyle StyleOfForm(BoxForm form) {
  switch (form) {
    case BoxForm::kQuestionYesNo:
      return {false, kBoxYesNo};
    case BoxForm::kQuestionOkCancel:
      return {false, kBoxOkCancel};
    case BoxForm::kHardError:
      return {true, kBoxIconStop | kBoxSetForeground};
    case BoxForm::kTapiError:
      return {true, 0};
    case BoxForm::kNote:
      return {false, 0};
    case BoxForm::kCodeNote:
      break;
  }
  return {false, kBoxIconExclamation};
}

std::u16string FormatSystemError(const std::u16string& pattern, const std::u16string& systemText) {
  std::u16string line = systemText;
  while (!line.empty() && (line.back() == u'\r' || line.back() == u'\n' || line.back() == u' ')) line.pop_back();
  // The argument is inserted, never interpreted: a system text with "%" in it
  // must come out as it is.
  std::u16string text = pattern;
  const std::size_t at = text.find(u"%s");
  if (at != std::u16string::npos) text.replace(at, 2, line);
  return text;
}

std::u16string CodeNote(std::string_view function, std::uint32_t result) {
  char code[16];
  std::snprintf(code, sizeof code, "0x0%X", static_cast<unsigned>(result));
  std::string note(function);
  note += " returns ";
  note += code;
  return Widen(note);
}

std::u16string Widen(std::string_view text) {
  std::u16string wide;
  wide.reserve(text.size());
  for (const char c : text) wide.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
  return wide;
}

}  // namespace setup
