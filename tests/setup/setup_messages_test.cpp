// setup's texts as the user reads them: the string table in four languages,
// the message-box forms, the system-error and code-note formats.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "setup/setup_messages.h"
#include "tests/setup/setup_fakes.h"

namespace {

using setup::BoxForm;
using setup_test::ResourceStrings;
using setup_test::Utf16;
using setup_test::Utf8;

TEST(SetupStrings, EveryMessageExistsInAllFourLanguages) {
  const auto& strings = ResourceStrings();
  for (int id = setup::kIdTitle; id <= setup::kIdLast; ++id) {
    ASSERT_TRUE(strings.count(id)) << "string " << id;
    EXPECT_FALSE(strings.at(id).empty()) << "string " << id;
  }
  EXPECT_EQ(strings.size(), static_cast<std::size_t>(setup::kIdLast - setup::kIdTitle + 1));
  EXPECT_EQ(strings.at(128), "Kavrel TSP Setup");
}

// The texts users have always seen, exactly; the language of each is the
// column its ID places it in.
TEST(SetupStrings, QuestionsAndResultsReadAsShipped) {
  const std::map<int, std::string> shipped{
      {129, "Soll der Kavrel Telephonie-Treiber installiert werden ?"},
      {130, "Wilt u dat de Kavrel Telefoon-driver geinstalleerd wordt ?"},
      {131, "Would you like to install Kavrel telephony driver ?"},
      {132, "Le pilote de téléphonie Kavrel doit-il être installé ?"},
      {135, "Kavrel telephony driver\nhas been successfully installed on your system!\n\nPlease read carefully the "
            "Readme-file!\nIt will not be installed on your system.\nIf necessary, it can be printed out or saved for "
            "possible future reference.\n"},
      {137, "Ein Kavrel Telephonie-Treiber ist bereits installiert.\nUm den Treiber zu  ersetzen schliessen Sie alle "
            "TAPI Anwendungen\nund Drücken Sie auf \"OK\"."},
      {139, "A Kavrel telephony driver has been found on your system.\nTo replace this driver please close all "
            "TAPI-applications\nand press \"OK\"."},
      {143, "TAPI access denied !\nInstallation will be terminated !"},
      // The Dutch removal failure says what the other languages say: not removed.
      {146, "De geïnstalleerde driver kon niet worden verwijderd !\nDe installatie wordt afgebroken !"},
      {155, "A TAPI errror occured during installation !\nInstallation will be terminated !"},
      {156, "Lors de linstallation, une erreur TAPI s'est produite.\nL'installation est interrompue !"},
      {160, "Lors de la configuration du pilote, une erreur TAPI est intervenue.\nL'installation est interrompue !"},
  };
  for (const auto& [id, text] : shipped) EXPECT_EQ(ResourceStrings().at(id), text) << "string " << id;
}

TEST(SetupStrings, EverySystemErrorTextTakesTheSystemsTextAsItsWholeSecondLine) {
  for (int id = 149; id <= 152; ++id) {
    const std::u16string text = setup::FormatSystemError(Utf16(ResourceStrings().at(id)), u"Zugriff verweigert.\r\n");
    const std::string shown = Utf8(text);
    const std::size_t first = shown.find('\n');
    ASSERT_NE(first, std::string::npos) << "string " << id;
    EXPECT_EQ(shown.substr(first + 1, shown.find('\n', first + 1) - first - 1), "Zugriff verweigert.")
        << "string " << id;
    EXPECT_EQ(shown.find('%'), std::string::npos) << "string " << id;
  }
}

TEST(SetupStrings, WrongPackageTextsNameThe64BitPackage) {
  for (int id = 161; id <= 164; ++id) {
    EXPECT_NE(ResourceStrings().at(id).find("k482tsp-x64.zip"), std::string::npos) << "string " << id;
  }
}

TEST(SetupMessages, SystemTextIsInsertedNotInterpreted) {
  EXPECT_EQ(setup::FormatSystemError(u"A :\n%s\n\nB", u"100% %s %n done\r\n"), u"A :\n100% %s %n done\n\nB");
}

TEST(SetupMessages, CodeNoteWritesTheResultAs0x0AndUpperCaseHex) {
  EXPECT_EQ(setup::CodeNote("lineInitializeEx", 0x80000048), u"lineInitializeEx returns 0x080000048");
  EXPECT_EQ(setup::CodeNote("lineConfigProvider", 0x8000004D), u"lineConfigProvider returns 0x08000004D");
  EXPECT_EQ(setup::CodeNote("lineConfigProvider", 0x1F), u"lineConfigProvider returns 0x01F");
}

struct FormRow {
  BoxForm form;
  bool errorCaption;
  std::uint32_t flags;
};

TEST(SetupMessages, FormsHaveTheirCaptionButtonsAndIcon) {
  const FormRow rows[] = {
      {BoxForm::kQuestionYesNo, false, 0x4},        // Yes/No, no icon
      {BoxForm::kQuestionOkCancel, false, 0x1},     // OK/Cancel, no icon
      {BoxForm::kHardError, true, 0x10 | 0x10000},  // OK, stop icon, foreground
      {BoxForm::kTapiError, true, 0x0},             // OK, no icon
      {BoxForm::kNote, false, 0x0},                 // OK, no icon
      {BoxForm::kCodeNote, false, 0x30},            // OK, exclamation icon
  };
  for (const FormRow& row : rows) {
    const setup::BoxStyle style = setup::StyleOfForm(row.form);
    EXPECT_EQ(style.errorCaption, row.errorCaption) << static_cast<int>(row.form);
    EXPECT_EQ(style.flags, row.flags) << static_cast<int>(row.form);
  }
}

}  // namespace
