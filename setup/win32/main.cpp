// setup.exe: the blue maximised main window, the private message chain that
// drives the flow, and the Win32 side of everything the flow asks of its host.
#include <windows.h>
#include <shellapi.h>

#include <memory>
#include <string>

#include "setup/setup_host.h"
#include "setup/tapi_library.h"

namespace {

static_assert(setup::kBoxOkCancel == MB_OKCANCEL && setup::kBoxYesNo == MB_YESNO &&
              setup::kBoxIconStop == MB_ICONSTOP && setup::kBoxIconExclamation == MB_ICONEXCLAMATION &&
              setup::kBoxSetForeground == MB_SETFOREGROUND);
static_assert(static_cast<int>(setup::BoxAnswer::kOk) == IDOK && static_cast<int>(setup::BoxAnswer::kCancel) == IDCANCEL &&
              static_cast<int>(setup::BoxAnswer::kYes) == IDYES && static_cast<int>(setup::BoxAnswer::kNo) == IDNO);
static_assert(setup::kErrorCallNotImplemented == ERROR_CALL_NOT_IMPLEMENTED);

constexpr wchar_t kFrameClass[] = L"KavrelSetupFrame";
constexpr wchar_t kViewClass[] = L"KavrelSetupView";
constexpr DWORD kPathChars = 260;

const wchar_t* Wide(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

// setup runs with administrator rights from whatever folder the zip was
// unpacked into: a DLL planted there must never be loaded in place of a
// system one. Before anything is loaded by name, the search is the system
// directory only. SetDefaultDllDirectories is there from Windows 8, and on
// Windows 7 with its loader update; without it the current directory at least
// leaves the search, and TAPI is loaded by its full path (SystemLibrary).
void RestrictDllSearchToSystemDirectory() {
  using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
  const auto set = reinterpret_cast<SetDefaultDllDirectoriesFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories")));
  if (set == nullptr || !set(LOAD_LIBRARY_SEARCH_SYSTEM32)) SetDllDirectoryW(L"");
}

// A DLL from the system directory, never from the program's folder or the
// current directory. Freed when the program exits.
class SystemLibrary {
 public:
  SystemLibrary() = default;
  ~SystemLibrary() {
    if (handle_ != nullptr) FreeLibrary(handle_);
  }
  SystemLibrary(const SystemLibrary&) = delete;
  SystemLibrary& operator=(const SystemLibrary&) = delete;

  bool Load(const char* name) {
    if (handle_ != nullptr) return true;
    handle_ = LoadLibraryExA(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (handle_ == nullptr && GetLastError() == ERROR_INVALID_PARAMETER) {
      // A loader without search flags: the full path names the one file meant.
      char directory[kPathChars] = {};
      const UINT length = GetSystemDirectoryA(directory, kPathChars);
      if (length > 0 && length < kPathChars) {
        const std::string path = std::string(directory, length) + "\\" + name;
        handle_ = LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
      }
    }
    return handle_ != nullptr;
  }
  void* Symbol(const char* name) const {
    return handle_ != nullptr ? reinterpret_cast<void*>(GetProcAddress(handle_, name)) : nullptr;
  }

 private:
  HMODULE handle_ = nullptr;
};

// TAPI32.DLL for the flow's binding table.
class SystemTapiLibrary final : public setup::TapiLibrary {
 public:
  bool Load(const std::string& name) override { return library_.Load(name.c_str()); }
  void* Symbol(const char* name) override { return library_.Symbol(name); }

 private:
  SystemLibrary library_;
};

class Win32Host final : public setup::SetupHost {
 public:
  explicit Win32Host(HINSTANCE instance) : instance_(instance) {}

  void SetMainWindow(HWND window) { window_ = window; }

  std::u16string LoadText(int id) override {
    const wchar_t* text = nullptr;
    const int length = LoadStringW(instance_, static_cast<UINT>(id), reinterpret_cast<LPWSTR>(&text), 0);
    return length > 0 ? std::u16string(reinterpret_cast<const char16_t*>(text), static_cast<std::size_t>(length))
                      : std::u16string();
  }

  setup::BoxAnswer ShowBox(setup::BoxForm form, const std::u16string& caption, const std::u16string& text) override {
    const int answer = MessageBoxW(window_, Wide(text), Wide(caption), setup::StyleOfForm(form).flags);
    return static_cast<setup::BoxAnswer>(answer);
  }

  bool LoadTapiLibrary() override { return tapiLibrary_.Load("tapi32.dll"); }

  bool IsWow64Process() override {
    BOOL wow64 = FALSE;
    return ::IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
  }

  bool SystemDirectory(std::string* directory, std::uint32_t* error) override {
    return Directory(GetSystemDirectoryA, directory, error);
  }
  bool Wow64SystemDirectory(std::string* directory, std::uint32_t* error) override {
    return Directory(GetSystemWow64DirectoryA, directory, error);
  }

  bool CopyFileReplacing(const std::string& from, const std::string& to, std::uint32_t* error) override {
    return Check(CopyFileA(from.c_str(), to.c_str(), FALSE), error);
  }
  bool SetNormalAttributes(const std::string& path, std::uint32_t* error) override {
    return Check(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL), error);
  }

  std::u16string SystemErrorText(std::uint32_t code) override {
    wchar_t text[256] = {};
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                                        MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text, 256, nullptr);
    return std::u16string(reinterpret_cast<const char16_t*>(text), length);
  }

  std::string ProgramPath() override {
    char path[kPathChars] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, kPathChars);
    return length < kPathChars ? std::string(path, length) : std::string();
  }

  void ShellOpenMaximised(const std::string& path) override {
    ShellExecuteA(GetDesktopWindow(), "open", path.c_str(), nullptr, "", SW_SHOWMAXIMIZED);
  }

  void Pause(std::chrono::milliseconds duration) override { Sleep(static_cast<DWORD>(duration.count())); }

  void* MainWindow() override { return window_; }
  void Post(setup::Step step, std::uint32_t param) override {
    PostMessageW(window_, WM_USER + static_cast<UINT>(step), param, 0);
  }
  void End() override { PostMessageW(window_, WM_CLOSE, 0, 0); }

 private:
  static bool Check(BOOL ok, std::uint32_t* error) {
    if (!ok) *error = GetLastError();
    return ok != FALSE;
  }
  static bool Directory(UINT(WINAPI* get)(LPSTR, UINT), std::string* directory, std::uint32_t* error) {
    char path[kPathChars] = {};
    const UINT length = get(path, kPathChars);
    if (length == 0) {
      *error = GetLastError();
      return false;
    }
    if (length >= kPathChars) {
      *error = ERROR_INSUFFICIENT_BUFFER;
      return false;
    }
    directory->assign(path, length);
    return true;
  }

  HINSTANCE instance_;
  ::HWND window_ = nullptr;
  SystemLibrary tapiLibrary_;  // the start step's presence test, held until exit
};

// The main window's state, CMainFrame's fields.
struct MainFrame {
  Win32Host* host;
  std::unique_ptr<setup::StepHandler> flow;
  ::HWND view = nullptr;
};

LRESULT CALLBACK ViewProc(::HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcW(window, message, wParam, lParam);
}

LRESULT CALLBACK FrameProc(::HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* frame = reinterpret_cast<MainFrame*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  switch (message) {
    case WM_NCCREATE: {
      frame = static_cast<MainFrame*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
      SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(frame));
      frame->host->SetMainWindow(window);
      break;
    }
    case WM_CREATE:
      frame->view = CreateWindowExW(WS_EX_CLIENTEDGE, kViewClass, L"", WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, window,
                                    nullptr, GetModuleHandleW(nullptr), nullptr);
      return frame->view != nullptr ? 0 : -1;
    case WM_SIZE:
      if (frame != nullptr && frame->view != nullptr) MoveWindow(frame->view, 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE);
      return 0;
    case WM_SETFOCUS:
      if (frame != nullptr && frame->view != nullptr) SetFocus(frame->view);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      if (frame != nullptr && message >= WM_USER + 1 && message <= WM_USER + 5 && message != WM_USER + 2) {
        frame->flow->Dispatch(static_cast<setup::Step>(message - WM_USER), static_cast<std::uint32_t>(wParam));
        return 0;
      }
      break;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

bool RegisterClasses(HINSTANCE instance, HBRUSH blue) {
  WNDCLASSEXW view{};
  view.cbSize = sizeof view;
  view.lpfnWndProc = ViewProc;
  view.hInstance = instance;
  view.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  view.hbrBackground = blue;
  view.lpszClassName = kViewClass;
  WNDCLASSEXW frame{};
  frame.cbSize = sizeof frame;
  frame.lpfnWndProc = FrameProc;
  frame.hInstance = instance;
  frame.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  frame.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  frame.lpszClassName = kFrameClass;
  return RegisterClassExW(&view) != 0 && RegisterClassExW(&frame) != 0;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int) {
  RestrictDllSearchToSystemDirectory();
  HBRUSH blue = CreateSolidBrush(RGB(0, 0, 255));
  if (!RegisterClasses(instance, blue)) return 0;

  Win32Host host(instance);
  setup::SetupOptions options;
  options.install32BitUiModule = sizeof(void*) == 8;
  MainFrame frame{&host,
                  setup::MakeInstaller(host, std::make_unique<SystemTapiLibrary>(), GetUserDefaultLangID(), options)};

  const std::u16string title = host.LoadText(setup::kIdTitle);
  ::HWND window = CreateWindowExW(0, kFrameClass, Wide(title), WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                                  CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, instance, &frame);
  if (window == nullptr) return 0;
  ShowWindow(window, SW_SHOWMAXIMIZED);
  UpdateWindow(window);
  PostMessageW(window, WM_USER + static_cast<UINT>(setup::Step::kStart), 0, 0);

  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  DeleteObject(blue);
  // Every ending, refusal and failure alike, is a normal exit.
  return 0;
}
