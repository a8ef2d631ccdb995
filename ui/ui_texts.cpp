#include "ui/ui_texts.h"

namespace {

#define K482_SHEET_TEXTS(L)                                                                                            \
  SheetTexts {                                                                                                         \
    IDD_CONNECTION_##L, IDD_CHARGES_##L, IDD_INFO_##L, TXT_CONNECTION_##L, TXT_CHARGES_##L, TXT_INFO_##L, TXT_MSN_##L, \
        TXT_PORT_##L, TXT_TRACE_##L, TXT_CHARGE_##L, TXT_CHARGE_HINT_##L, TXT_CURRENCY_##L, TXT_CURRENCY_HINT_##L,     \
        TXT_FORMAT_##L,                                                                                                \
        {TXT_FORMAT_UNITS_##L, TXT_FORMAT_AMOUNT_##L, TXT_FORMAT_AOCD_UNITS_##L, TXT_FORMAT_AOCD_CURRENCY_##L},        \
        TXT_HEADING_##L, TXT_TSP_VERSION_##L, TXT_TAPI_VERSION_##L, TXT_INTERFACE_VERSION_##L,                         \
        IDS_NUMBER_RANGE_##L, IDS_TEXT_LENGTH_##L, IDS_SAVE_FAILED_##L                                                 \
  }

const SheetTexts kGerman = K482_SHEET_TEXTS(DE);
const SheetTexts kEnglish = K482_SHEET_TEXTS(EN);
const SheetTexts kFrench = K482_SHEET_TEXTS(FR);
const SheetTexts kDutch = K482_SHEET_TEXTS(NL);

#undef K482_SHEET_TEXTS

struct Message {
  int id;
  const char* text;
};

constexpr Message kMessages[] = {
    {IDS_ENTER_NUMBER_DE, TXT_ENTER_NUMBER_DE}, {IDS_ENTER_NUMBER_EN, TXT_ENTER_NUMBER_EN},
    {IDS_ENTER_NUMBER_FR, TXT_ENTER_NUMBER_FR}, {IDS_ENTER_NUMBER_NL, TXT_ENTER_NUMBER_NL},
    {IDS_ENTER_NUMBER_IT, TXT_ENTER_NUMBER_IT}, {IDS_MESSAGE_CAPTION, TXT_MESSAGE_CAPTION},
#define K482_LANGUAGE_MESSAGES(L) \
  {IDS_NUMBER_RANGE_##L, TXT_NUMBER_RANGE_##L}, {IDS_TEXT_LENGTH_##L, TXT_TEXT_LENGTH_##L}, {IDS_SAVE_FAILED_##L, TXT_SAVE_FAILED_##L}
    K482_LANGUAGE_MESSAGES(DE), K482_LANGUAGE_MESSAGES(EN), K482_LANGUAGE_MESSAGES(FR), K482_LANGUAGE_MESSAGES(NL),
#undef K482_LANGUAGE_MESSAGES
};

}  // namespace

SheetLanguage SheetLanguageOf(std::uint16_t langId) {
  switch (PrimaryLanguage(langId)) {
    case kLangGerman:
      return SheetLanguage::kGerman;
    case kLangFrench:
      return SheetLanguage::kFrench;
    case kLangDutch:
      return SheetLanguage::kDutch;
    default:
      return SheetLanguage::kEnglish;
  }
}

const SheetTexts& TextsFor(SheetLanguage language) {
  switch (language) {
    case SheetLanguage::kGerman:
      return kGerman;
    case SheetLanguage::kFrench:
      return kFrench;
    case SheetLanguage::kDutch:
      return kDutch;
    case SheetLanguage::kEnglish:
      break;
  }
  return kEnglish;
}

int EnterNumberMessageId(std::uint16_t langId) {
  switch (PrimaryLanguage(langId)) {
    case kLangGerman:
      return IDS_ENTER_NUMBER_DE;
    case kLangFrench:
      return IDS_ENTER_NUMBER_FR;
    case kLangItalian:
      return IDS_ENTER_NUMBER_IT;
    case kLangDutch:
      return IDS_ENTER_NUMBER_NL;
    default:
      return IDS_ENTER_NUMBER_EN;
  }
}

const char* MessageText(int stringId) {
  for (const Message& message : kMessages) {
    if (message.id == stringId) return message.text;
  }
  return "";
}

std::string FormatMessageText(std::string_view text, std::string_view arg1, std::string_view arg2) {
  std::string result;
  for (std::size_t at = 0; at < text.size(); ++at) {
    if (text[at] == '%' && at + 1 < text.size() && (text[at + 1] == '1' || text[at + 1] == '2')) {
      result += text[at + 1] == '1' ? arg1 : arg2;
      ++at;
    } else {
      result += text[at];
    }
  }
  return result;
}
