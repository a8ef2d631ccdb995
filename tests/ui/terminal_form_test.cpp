// The sheet as a terminal form: prompts in the user's language, the pages'
// checks and messages, OK, Apply and Cancel, and the end of the input.
#include "ui/terminal_form.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "tests/ui/sheet_fixture.h"

namespace {

using ui_testing::FakeProvider;
using ui_testing::kEnglishPoint;
using ui_testing::kGermanComma;

class TerminalFormTest : public ui_testing::SheetTest {
 protected:
  // The form's output for this input.
  std::string Run(const std::string& input, UserLocale locale) {
    std::istringstream in(input);
    std::ostringstream out;
    TerminalForm form(in, out);
    EXPECT_EQ(ShowConfigSheet(nullptr, &FakeProvider::Callback, 1, TUISPIDLL_OBJECT_PROVIDERID, form, locale), 0);
    return out.str();
  }
};

TEST_F(TerminalFormTest, GermanUserChangesEveryFieldAndConfirms) {
  PutString("MSN0", "4711");
  PutString("ChargePerUnit", "0.06");
  const std::string out =
      Run("0815\ncom5\nx\n"   // connection
          "abc\nchf\n3\n2\n"  // charges: a word for a price, the disabled format
          "0,075\n"           // asked again after the refusal
          "o\n",
          kGermanComma);
  EXPECT_NE(out.find("Kavrel Phone TSP\n================"), std::string::npos) << out;
  EXPECT_NE(out.find("-- Anschluss --"), std::string::npos) << out;
  EXPECT_NE(out.find("MSN : [4711]"), std::string::npos) << out;
  EXPECT_NE(out.find("Bitte wählen Sie den COM Port aus : (COM1, COM2, COM3, COM4, COM5, COM6) [COM1]"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("-- Gebühren --"), std::string::npos) << out;
  EXPECT_NE(out.find("Preis pro Einheit : ( z.B.:   0,06 ) [0,06]"), std::string::npos) << out;
  EXPECT_NE(out.find("Kavrel Phone TSP: Geben Sie bitte eine Zahl ein !"), std::string::npos) << out;
  EXPECT_NE(out.find("Währungsbetrag in AOCDCurrency (ISDN, Q931)"), std::string::npos) << out;
  EXPECT_NE(out.find("TSP Version : 01.01.01.00"), std::string::npos) << out;
  EXPECT_NE(out.find("Aktuelle TAPI / TSP Interfaceversion : 2.2"), std::string::npos) << out;

  EXPECT_EQ(StoredString("MSN0"), "0815");
  EXPECT_EQ(StoredDword("PortNr"), 4u);
  EXPECT_EQ(StoredDword("Trace"), 1u);
  EXPECT_EQ(StoredString("ChargePerUnit"), "0.075");
  EXPECT_EQ(StoredString("Currency"), "CHF");
  EXPECT_EQ(StoredDword("ChargeFormat"), 2u);
  EXPECT_EQ(FakeProvider::NotifyCount(), 1);
}

TEST_F(TerminalFormTest, RefusedChargeUnderAPointSeparatorIsAskedAgain) {
  const std::string out = Run("\n\n\n1,5\n\n\n1.25\no\n", kEnglishPoint);
  EXPECT_NE(out.find("Kavrel Phone TSP: Please enter a number !"), std::string::npos) << out;
  EXPECT_EQ(StoredString("ChargePerUnit"), "1.250");
}

TEST_F(TerminalFormTest, TheEndOfTheInputCancels) {
  PutString("MSN0", "4711");
  for (const char* input : {"", "0815\n", "0815\n\n\n\n\n\n"}) {
    FakeProvider::Reset();
    Run(input, kEnglishPoint);
    EXPECT_EQ(StoredString("MSN0"), "4711") << '"' << input << '"';
    EXPECT_EQ(FakeProvider::NotifyCount(), 0) << '"' << input << '"';
  }
}

TEST_F(TerminalFormTest, ApplyThenCancelKeepsWhatWasAppliedAndNotifies) {
  const std::string out =
      Run("1234\n\n\n\n\n\n"  // one edit
          "a\n"               // Apply, back to the first page
          "99\n\n\n\n\n\n"    // an edit that is cancelled
          "c\n",
          kEnglishPoint);
  EXPECT_NE(out.find("[O]K, [A]pply, [C]ancel:"), std::string::npos) << out;
  EXPECT_EQ(StoredString("MSN0"), "1234");
  EXPECT_EQ(FakeProvider::NotifyCount(), 1);
}

TEST_F(TerminalFormTest, ApplyIsOfferedOnlyAfterAnEdit) {
  const std::string out = Run("\n\n\n\n\n\na\nc\n", kEnglishPoint);
  EXPECT_NE(out.find("[O]K, [C]ancel:"), std::string::npos) << out;
  EXPECT_EQ(out.find("[A]pply"), std::string::npos) << out;
  EXPECT_EQ(FakeProvider::NotifyCount(), 0);
}

TEST_F(TerminalFormTest, ADashEmptiesAFieldAndClearsTheCheckBox) {
  PutString("Currency", "CHF");
  PutDword("Trace", 1);
  Run("\n\n-\n\n-\n\no\n", kEnglishPoint);
  EXPECT_EQ(StoredString("Currency"), "");
  EXPECT_EQ(StoredDword("Trace"), 0u);
}

}  // namespace
