// The settings sheet as a form on a text terminal, for hosts without a window
// system: one prompt per field, page after page, then OK, Apply or Cancel. The
// pages and their checks are the sheet's own; refused input brings the sheet's
// message and the same field again. Enter keeps a field, "-" empties it or
// clears a check box, "x" checks it. The end of the input cancels.
#pragma once

#include <istream>
#include <ostream>
#include <string>

#include "ui/config_sheet.h"
#include "ui/sheet_session.h"

class TerminalForm : public SheetRunner {
 public:
  TerminalForm(std::istream& in, std::ostream& out);
  SheetEnd RunModal(CConfigSheet& sheet) override;

 private:
  enum class Button { kOk, kApply, kCancel };

  // False when the input ended.
  bool AskPage(SheetSession& session);
  bool AskField(SheetSession& session, int id);
  bool AskEdit(SheetSession& session, int id, const char* label, const char* hint);
  bool AskPort(SheetSession& session);
  bool AskTrace(SheetSession& session);
  bool AskFormat(SheetSession& session);
  void ShowInfo(SheetSession& session);
  bool AskButton(SheetSession& session, Button* button);
  // Asks the refused field again until the current page lets the user go on
  // (leave is the way out: another page, OK); false when the input ended.
  template <typename Leave>
  bool Retry(SheetSession& session, Leave leave);
  bool ReadLine(std::string* line);

  std::istream& m_in;
  std::ostream& m_out;
  const SheetTexts* m_texts = nullptr;
};
