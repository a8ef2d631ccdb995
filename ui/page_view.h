// What a settings page needs from its window: the controls of its template,
// addressed by their IDs. The Win32 sheet implements it over a dialog, the
// terminal form and the tests over controls held in memory.
#pragma once

#include <string>
#include <string_view>

// The control notifications the pages handle.
enum class ControlEvent {
  kTextChanged,       // an edit control's text changed (EN_CHANGE)
  kClicked,           // a button was clicked (BN_CLICKED)
  kSelectionChanged,  // a combo box's selection changed (CBN_SELCHANGE)
};

class PageView {
 public:
  virtual ~PageView() = default;

  // Text in the store's ANSI code page.
  virtual std::string GetText(int id) = 0;
  virtual void SetText(int id, const std::string& text) = 0;
  // The most characters the user can type into an edit control.
  virtual void LimitText(int id, int chars) = 0;

  virtual bool IsChecked(int id) = 0;
  // Sets a check box's or radio button's state without a click notification.
  virtual void SetCheck(int id, bool checked) = 0;

  // A combo box's selected entry, -1 for none.
  virtual int GetSelection(int id) = 0;
  virtual void SetSelection(int id, int index) = 0;
  // The entry of a combo box's list that reads exactly text, -1 for none.
  virtual int FindEntry(int id, const std::string& text) = 0;

  // Puts the user back into a field after its input was refused.
  virtual void FocusControl(int id) = 0;
  // A message box (exclamation, OK, the module's caption) with a message string
  // and its %1 and %2 inserts.
  virtual void ShowMessage(int stringId, std::string_view arg1 = {}, std::string_view arg2 = {}) = 0;
  // The page's modified mark, which enables the sheet's Apply button.
  virtual void SetModified(bool modified) = 0;
};
