// The settings sheet as a Win32 property sheet: the pages' templates come from
// the module's resources, and every notification goes straight to the page
// logic, which decides what happens.
#include <windows.h>
// After windows.h, which they build on.
#include <commctrl.h>
#include <prsht.h>

#include <cstring>
#include <string>
#include <vector>

#include "ui/sheet_runner.h"
#include "ui/text_convert.h"
#include "ui/ui_texts.h"

namespace {

// The framework's dialog initialisation data: the port list of a connection template.
constexpr WORD kResourceDialogInit = 240;
constexpr WORD kAddStringWin16 = WM_USER + 3;

const wchar_t* Wide(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

HINSTANCE Instance() { return static_cast<HINSTANCE>(UiModuleInstance()); }

std::u16string LoadText(int stringId) {
  const wchar_t* text = nullptr;
  // With no buffer, LoadString hands out the resource's own read-only copy.
  const int length = LoadStringW(Instance(), static_cast<UINT>(stringId), reinterpret_cast<LPWSTR>(&text), 0);
  if (length <= 0 || text == nullptr) return {};
  return std::u16string(reinterpret_cast<const char16_t*>(text), static_cast<std::size_t>(length));
}

struct SheetState {
  bool okPressed = false;
  bool cancelled = false;
};

class Win32PageView : public PageView {
 public:
  HWND hwnd = nullptr;

  std::string GetText(int id) override {
    HWND control = GetDlgItem(hwnd, id);
    if (control == nullptr) return {};
    const int length = GetWindowTextLengthW(control);
    std::u16string text(static_cast<std::size_t>(length) + 1, u'\0');
    const int read = GetWindowTextW(control, reinterpret_cast<LPWSTR>(text.data()), length + 1);
    text.resize(static_cast<std::size_t>(read > 0 ? read : 0));
    return Utf16ToAnsi(text);
  }
  void SetText(int id, const std::string& text) override { SetDlgItemTextW(hwnd, id, Wide(AnsiToUtf16(text))); }
  void LimitText(int id, int chars) override {
    SendDlgItemMessageW(hwnd, id, EM_LIMITTEXT, static_cast<WPARAM>(chars), 0);
  }
  bool IsChecked(int id) override { return IsDlgButtonChecked(hwnd, id) == BST_CHECKED; }
  void SetCheck(int id, bool checked) override { CheckDlgButton(hwnd, id, checked ? BST_CHECKED : BST_UNCHECKED); }
  int GetSelection(int id) override {
    const LRESULT selection = SendDlgItemMessageW(hwnd, id, CB_GETCURSEL, 0, 0);
    return selection == CB_ERR ? -1 : static_cast<int>(selection);
  }
  void SetSelection(int id, int index) override {
    SendDlgItemMessageW(hwnd, id, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
  }
  int FindEntry(int id, const std::string& text) override {
    const std::u16string wide = AnsiToUtf16(text);
    const LRESULT index = SendDlgItemMessageW(hwnd, id, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                              reinterpret_cast<LPARAM>(Wide(wide)));
    return index == CB_ERR ? -1 : static_cast<int>(index);
  }
  void FocusControl(int id) override {
    SendMessageW(hwnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(hwnd, id)), TRUE);
  }
  void ShowMessage(int stringId, std::string_view arg1, std::string_view arg2) override {
    const std::u16string text = Utf8ToUtf16(FormatMessageText(Utf16ToUtf8(LoadText(stringId)), arg1, arg2));
    const std::u16string caption = LoadText(IDS_MESSAGE_CAPTION);
    MessageBoxW(hwnd, Wide(text), Wide(caption), MB_OK | MB_ICONEXCLAMATION);
  }
  void SetModified(bool modified) override {
    SendMessageW(GetParent(hwnd), modified ? PSM_CHANGED : PSM_UNCHANGED, reinterpret_cast<WPARAM>(hwnd), 0);
  }
};

struct PageBinding {
  CConfigPage* page = nullptr;
  int templateId = 0;
  SheetState* state = nullptr;
  Win32PageView view;
};

// Fills the combo boxes of a template from its initialisation data, as the
// dialog framework does: entries of control ID, message, length and ANSI text.
void FillLists(HWND page, int templateId) {
  HRSRC found = FindResourceW(Instance(), MAKEINTRESOURCEW(templateId), MAKEINTRESOURCEW(kResourceDialogInit));
  if (found == nullptr) return;
  HGLOBAL loaded = LoadResource(Instance(), found);
  const auto* data = static_cast<const unsigned char*>(loaded != nullptr ? LockResource(loaded) : nullptr);
  const DWORD size = SizeofResource(Instance(), found);
  if (data == nullptr) return;
  DWORD at = 0;
  while (at + 2 <= size) {
    WORD id = 0;
    std::memcpy(&id, data + at, sizeof id);
    if (id == 0 || at + 8 > size) break;
    WORD message = 0;
    DWORD length = 0;
    std::memcpy(&message, data + at + 2, sizeof message);
    std::memcpy(&length, data + at + 4, sizeof length);
    at += 8;
    if (length > size - at) break;
    if (message == kAddStringWin16 || message == CB_ADDSTRING) {
      const auto* text = reinterpret_cast<const char*>(data + at);
      const std::u16string wide = AnsiToUtf16(std::string_view(text, strnlen(text, length)));
      SendDlgItemMessageW(page, id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Wide(wide)));
    }
    at += length;
  }
}

ControlEvent EventOf(WORD code, bool* known) {
  *known = true;
  switch (code) {
    case EN_CHANGE:
      return ControlEvent::kTextChanged;
    case BN_CLICKED:
      return ControlEvent::kClicked;
    case CBN_SELCHANGE:
      return ControlEvent::kSelectionChanged;
    default:
      *known = false;
      return ControlEvent::kClicked;
  }
}

void SetResult(HWND hwnd, LONG_PTR result) { SetWindowLongPtrW(hwnd, DWLP_MSGRESULT, result); }

INT_PTR CALLBACK PageProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* binding = reinterpret_cast<PageBinding*>(GetWindowLongPtrW(hwnd, DWLP_USER));
  if (message == WM_INITDIALOG) {
    binding = reinterpret_cast<PageBinding*>(reinterpret_cast<PROPSHEETPAGEW*>(lParam)->lParam);
    SetWindowLongPtrW(hwnd, DWLP_USER, reinterpret_cast<LONG_PTR>(binding));
    binding->view.hwnd = hwnd;
    FillLists(hwnd, binding->templateId);
    binding->page->InitDialog(binding->view);
    return TRUE;
  }
  if (binding == nullptr) return FALSE;
  if (message == WM_COMMAND) {
    bool known = false;
    const ControlEvent event = EventOf(HIWORD(wParam), &known);
    if (known && lParam != 0) binding->page->Notify(binding->view, LOWORD(wParam), event);
    return TRUE;
  }
  if (message != WM_NOTIFY) return FALSE;
  const auto* header = reinterpret_cast<const NMHDR*>(lParam);
  switch (header->code) {
    case PSN_SETACTIVE:
      binding->page->SetActive(binding->view);
      SetResult(hwnd, 0);
      return TRUE;
    case PSN_KILLACTIVE:
      SetResult(hwnd, binding->page->KillActive(binding->view) ? FALSE : TRUE);
      return TRUE;
    case PSN_APPLY: {
      const bool applied = binding->page->Apply(binding->view);
      if (applied && reinterpret_cast<const PSHNOTIFY*>(lParam)->lParam != 0) binding->state->okPressed = true;
      SetResult(hwnd, applied ? PSNRET_NOERROR : PSNRET_INVALID_NOCHANGEPAGE);
      return TRUE;
    }
    case PSN_RESET:
      binding->state->cancelled = true;
      return TRUE;
    default:
      return FALSE;
  }
}

class PropertySheetRunner : public SheetRunner {
 public:
  SheetEnd RunModal(CConfigSheet& sheet) override {
    INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);

    SheetState state;
    std::vector<PageBinding> bindings(static_cast<std::size_t>(sheet.PageCount()));
    std::vector<PROPSHEETPAGEW> pages(bindings.size());
    for (std::size_t i = 0; i < bindings.size(); ++i) {
      bindings[i].page = &sheet.Page(static_cast<int>(i));
      bindings[i].templateId = sheet.TemplateId(static_cast<int>(i));
      bindings[i].state = &state;
      PROPSHEETPAGEW& page = pages[i];
      std::memset(&page, 0, sizeof page);
      page.dwSize = sizeof page;
      page.dwFlags = PSP_DEFAULT;
      page.hInstance = Instance();
      page.pszTemplate = MAKEINTRESOURCEW(bindings[i].templateId);
      page.pfnDlgProc = PageProc;
      page.lParam = reinterpret_cast<LPARAM>(&bindings[i]);
    }
    const std::u16string caption = AnsiToUtf16(sheet.Caption());
    PROPSHEETHEADERW header;
    std::memset(&header, 0, sizeof header);
    header.dwSize = sizeof header;
    header.dwFlags = PSH_PROPSHEETPAGE | PSH_NOCONTEXTHELP;
    header.hwndParent = static_cast<HWND>(sheet.Parent());
    header.hInstance = Instance();
    header.pszCaption = Wide(caption);
    header.nPages = static_cast<UINT>(pages.size());
    header.nStartPage = static_cast<UINT>(sheet.StartPage());
    header.ppsp = pages.data();
    const INT_PTR result = PropertySheetW(&header);
    // A positive result also follows Apply and Cancel; only OK ends with OK.
    return state.okPressed || (result > 0 && !state.cancelled) ? SheetEnd::kOk : SheetEnd::kCancel;
  }
};

}  // namespace

std::unique_ptr<SheetRunner> MakeSheetRunner() { return std::make_unique<PropertySheetRunner>(); }
