// What setup says and in which language: the language groups with their offsets
// into the string table, the message-box forms, the read-me names, and the two
// formatted texts (system error, code note).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace setup {

// Only three languages are told apart; everything else reads English.
enum class LanguageGroup { kGerman, kDutch, kEnglish, kFrench };

// The primary language (low 10 bits of a language identifier) decides.
LanguageGroup GroupOfLanguage(std::uint16_t langId);
// Position of the group's text among the four consecutive IDs of a message.
int MessageOffset(LanguageGroup group);
// Read-me file name without extension, beside the setup program.
const char* ReadMeName(LanguageGroup group);

// String resource IDs; each message but the title has four languages at
// Id + MessageOffset, German first, then Dutch, English, French.
inline constexpr int kIdTitle = 128;
enum class Message : int {
  kInstallQuestion = 129,
  kSuccess = 133,
  kReplaceQuestion = 137,
  kTapiNotAvailable = 141,
  kRemovalFailed = 145,
  kSystemError = 149,
  kAddingFailed = 153,
  kConfigurationFailed = 157,
  // The 32-bit package started on 64-bit Windows.
  kWrongPackage = 161,
};
inline constexpr int kIdLast = 164;

int MessageId(Message message, LanguageGroup group);

// Message-box forms and their Win32 flags (MB_ values, checked against
// <windows.h> where the boxes are shown).
enum class BoxForm { kQuestionYesNo, kQuestionOkCancel, kHardError, kTapiError, kNote, kCodeNote };
inline constexpr std::uint32_t kBoxOkCancel = 0x1;
inline constexpr std::uint32_t kBoxYesNo = 0x4;
inline constexpr std::uint32_t kBoxIconStop = 0x10;
inline constexpr std::uint32_t kBoxIconExclamation = 0x30;
inline constexpr std::uint32_t kBoxSetForeground = 0x10000;

struct BoxStyle {
  bool errorCaption;  // "Error !" rather than the application title
  std::uint32_t flags;
};
BoxStyle StyleOfForm(BoxForm form);
inline constexpr char16_t kErrorCaption[] = u"Error !";

// A message box's answer, as the Win32 IDOK ... IDNO values.
enum class BoxAnswer : int { kOk = 1, kCancel = 2, kYes = 6, kNo = 7 };

// The system-error message: the system's text takes the place of the "%s" on
// the second line. Line breaks the system appends to its text are dropped so
// that it stays one line.
std::u16string FormatSystemError(const std::u16string& pattern, const std::u16string& systemText);

// "<function> returns 0x0%X", the note shown before a configuration failure.
std::u16string CodeNote(std::string_view function, std::uint32_t result);

// Plain ASCII or Latin-1 text as UTF-16 (the notes and names setup builds itself).
std::u16string Widen(std::string_view text);

}  // namespace setup
