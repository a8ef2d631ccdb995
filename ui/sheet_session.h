// A property sheet's behaviour without a window system: the pages' controls
// held in memory with the styles of their templates, the switch between pages,
// OK, Apply and Cancel. The terminal form runs on it; so do the tests.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ui/config_sheet.h"
#include "ui/page_view.h"

class MemoryPageView : public PageView {
 public:
  enum class Kind { kStatic, kEdit, kComboBox, kCheckBox, kRadioButton };
  struct Control {
    Kind kind = Kind::kStatic;
    std::string text;
    bool checked = false;
    int selection = -1;
    int limit = -1;  // -1: no limit
    bool digitsOnly = false;
    bool upperCase = false;
    bool disabled = false;
    std::vector<std::string> entries;
  };
  struct Message {
    int stringId;
    std::string text;  // with the inserts, UTF-8
  };

  // The controls of the page at this position of the sheet.
  explicit MemoryPageView(int pageIndex);

  std::string GetText(int id) override;
  void SetText(int id, const std::string& text) override;
  void LimitText(int id, int chars) override;
  bool IsChecked(int id) override;
  void SetCheck(int id, bool checked) override;
  int GetSelection(int id) override;
  void SetSelection(int id, int index) override;
  int FindEntry(int id, const std::string& text) override;
  void FocusControl(int id) override;
  void ShowMessage(int stringId, std::string_view arg1, std::string_view arg2) override;
  void SetModified(bool modified) override;

  const Control& At(int id) const;
  Control& At(int id);
  bool Has(int id) const { return m_controls.count(id) != 0; }
  int Focus() const { return m_focus; }
  // The field the last refusal put the user into, 0 for none; forgets it.
  int TakeFocus() { return std::exchange(m_focus, 0); }
  const std::vector<Message>& Messages() const { return m_messages; }
  // Called with each message as it is shown.
  void OnMessage(std::function<void(const Message&)> listener) { m_listener = std::move(listener); }

 private:
  std::map<int, Control> m_controls;
  std::vector<Message> m_messages;
  std::function<void(const Message&)> m_listener;
  int m_focus = 0;
};

class SheetSession {
 public:
  // Shows the sheet's start page.
  explicit SheetSession(CConfigSheet& sheet);

  CConfigSheet& Sheet() const { return m_sheet; }
  int CurrentPage() const { return m_current; }
  MemoryPageView& View(int page) { return m_views[static_cast<std::size_t>(page)]; }
  MemoryPageView& CurrentView() { return View(m_current); }

  // Another tab: false, staying, when the current page refuses to be left.
  bool SelectPage(int index);
  // Enabled while some page is modified.
  bool ApplyEnabled() const;
  // False when the button is disabled or a page refused.
  bool PressApply();
  // False when a page refused; the sheet then stays open.
  bool PressOk();
  void PressCancel();
  bool Ended() const { return m_ended; }
  SheetEnd Result() const { return m_result; }

  // The user's input into the current page, as the controls take it: typing
  // replaces an edit control's text within its limit and style; a click toggles
  // a check box or selects a radio button of the group, if enabled; choosing
  // picks a list entry; typing into a list's field leaves it without selection.
  void Type(int id, std::string_view text);
  void Click(int id);
  void Choose(int id, int index);
  void TypeIntoList(int id, std::string_view text);

 private:
  bool ApplyAll();
  void Show(int index);

  CConfigSheet& m_sheet;
  std::vector<MemoryPageView> m_views;
  int m_current = 0;
  bool m_ended = false;
  SheetEnd m_result = SheetEnd::kCancel;
};
