#include "ui/sheet_session.h"

#include <cctype>
#include <iterator>

namespace {

using Kind = MemoryPageView::Kind;

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  }
  return true;
}

}  // namespace

// ---------------------------------------------------------------------------
// Controls in memory, with the styles of the templates.

MemoryPageView::MemoryPageView(int pageIndex) {
  switch (pageIndex) {
    case 0: {
      Control& msn = m_controls[IDC_MSN];
      msn.kind = Kind::kEdit;
      msn.digitsOnly = true;
      Control& ports = m_controls[IDC_PORT_LIST];
      ports.kind = Kind::kComboBox;
      ports.entries.assign(std::begin(kPortNames), std::end(kPortNames));
      m_controls[IDC_TRACE].kind = Kind::kCheckBox;
      break;
    }
    case 1: {
      m_controls[IDC_CHARGE_PER_UNIT].kind = Kind::kEdit;
      Control& currency = m_controls[IDC_CURRENCY];
      currency.kind = Kind::kEdit;
      currency.upperCase = true;
      for (int id = IDC_FORMAT_UNITS; id <= IDC_FORMAT_AOCD_CURRENCY; ++id) m_controls[id].kind = Kind::kRadioButton;
      m_controls[IDC_FORMAT_AOCD_UNITS].disabled = true;
      break;
    }
    default:
      for (int id : {IDC_PROVIDER_VERSION, IDC_TAPI_VERSION, IDC_INTERFACE_VERSION})
        m_controls[id].kind = Kind::kStatic;
      break;
  }
}

const MemoryPageView::Control& MemoryPageView::At(int id) const { return m_controls.at(id); }
MemoryPageView::Control& MemoryPageView::At(int id) { return m_controls.at(id); }

std::string MemoryPageView::GetText(int id) { return At(id).text; }
void MemoryPageView::SetText(int id, const std::string& text) { At(id).text = text; }
void MemoryPageView::LimitText(int id, int chars) { At(id).limit = chars; }
bool MemoryPageView::IsChecked(int id) { return At(id).checked; }
void MemoryPageView::SetCheck(int id, bool checked) { At(id).checked = checked; }
int MemoryPageView::GetSelection(int id) { return At(id).selection; }

void MemoryPageView::SetSelection(int id, int index) {
  Control& control = At(id);
  const bool fits = index >= 0 && static_cast<std::size_t>(index) < control.entries.size();
  control.selection = fits ? index : -1;
  control.text = fits ? control.entries[static_cast<std::size_t>(index)] : std::string();
}

int MemoryPageView::FindEntry(int id, const std::string& text) {
  const Control& control = At(id);
  for (std::size_t i = 0; i < control.entries.size(); ++i) {
    if (SameText(control.entries[i], text)) return static_cast<int>(i);
  }
  return -1;
}

void MemoryPageView::FocusControl(int id) { m_focus = id; }

void MemoryPageView::ShowMessage(int stringId, std::string_view arg1, std::string_view arg2) {
  m_messages.push_back(Message{stringId, FormatMessageText(MessageText(stringId), arg1, arg2)});
  if (m_listener) m_listener(m_messages.back());
}

void MemoryPageView::SetModified(bool) {}

// ---------------------------------------------------------------------------
// The sheet.

SheetSession::SheetSession(CConfigSheet& sheet) : m_sheet(sheet) {
  for (int i = 0; i < sheet.PageCount(); ++i) m_views.emplace_back(i);
  m_current = sheet.StartPage();
  Show(m_current);
}

void SheetSession::Show(int index) {
  m_current = index;
  CConfigPage& page = m_sheet.Page(index);
  if (!page.HasWindow()) page.InitDialog(View(index));
  page.SetActive(View(index));
}

bool SheetSession::SelectPage(int index) {
  if (m_ended || index < 0 || index >= m_sheet.PageCount()) return false;
  if (index == m_current) return true;
  if (!m_sheet.Page(m_current).KillActive(CurrentView())) return false;
  Show(index);
  return true;
}

bool SheetSession::ApplyEnabled() const {
  for (int i = 0; i < m_sheet.PageCount(); ++i) {
    if (m_sheet.Page(i).IsModified()) return true;
  }
  return false;
}

bool SheetSession::ApplyAll() {
  if (!m_sheet.Page(m_current).KillActive(CurrentView())) return false;
  for (int i = 0; i < m_sheet.PageCount(); ++i) {
    CConfigPage& page = m_sheet.Page(i);
    if (page.HasWindow() && !page.Apply(View(i))) {
      Show(i);
      return false;
    }
  }
  return true;
}

bool SheetSession::PressApply() {
  if (m_ended || !ApplyEnabled()) return false;
  return ApplyAll();
}

bool SheetSession::PressOk() {
  if (m_ended || !ApplyAll()) return false;
  m_ended = true;
  m_result = SheetEnd::kOk;
  return true;
}

void SheetSession::PressCancel() {
  m_ended = true;
  m_result = SheetEnd::kCancel;
}

void SheetSession::Type(int id, std::string_view typed) {
  MemoryPageView::Control& control = CurrentView().At(id);
  if (control.kind != Kind::kEdit || control.disabled) return;
  std::string text;
  for (char c : typed) {
    if (control.limit >= 0 && text.size() >= static_cast<std::size_t>(control.limit)) break;
    if (control.digitsOnly && !std::isdigit(static_cast<unsigned char>(c))) continue;
    text += control.upperCase ? static_cast<char>(std::toupper(static_cast<unsigned char>(c))) : c;
  }
  control.text = text;
  m_sheet.Page(m_current).Notify(CurrentView(), id, ControlEvent::kTextChanged);
}

void SheetSession::Click(int id) {
  MemoryPageView& view = CurrentView();
  MemoryPageView::Control& control = view.At(id);
  if (control.disabled) return;
  if (control.kind == Kind::kCheckBox) {
    control.checked = !control.checked;
  } else if (control.kind == Kind::kRadioButton) {
    // The charges page's four formats are the one group of radio buttons.
    for (int other = IDC_FORMAT_UNITS; other <= IDC_FORMAT_AOCD_CURRENCY; ++other) {
      if (view.Has(other)) view.At(other).checked = other == id;
    }
  } else {
    return;
  }
  m_sheet.Page(m_current).Notify(view, id, ControlEvent::kClicked);
}

void SheetSession::Choose(int id, int index) {
  CurrentView().SetSelection(id, index);
  m_sheet.Page(m_current).Notify(CurrentView(), id, ControlEvent::kSelectionChanged);
}

void SheetSession::TypeIntoList(int id, std::string_view text) {
  MemoryPageView::Control& control = CurrentView().At(id);
  control.selection = -1;
  control.text = std::string(text);
}
