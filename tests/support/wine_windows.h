// Finding, reading and photographing the windows of a program under Wine, as
// the GUI drivers (setup.exe's and the settings sheet's) need them.
#pragma once

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/test_support.h"

namespace wine_windows {

inline std::string Narrow(const std::wstring& text) {
  std::string narrow(text.size() * 4 + 1, '\0');
  const int length = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, narrow.data(),
                                         static_cast<int>(narrow.size()), nullptr, nullptr);
  narrow.resize(length > 0 ? static_cast<std::size_t>(length - 1) : 0);
  return narrow;
}

inline std::wstring ClassOf(HWND window) {
  wchar_t name[128] = {};
  GetClassNameW(window, name, 128);
  return name;
}

// A window's text, also of another process's window.
inline std::wstring TextOf(HWND window) {
  wchar_t text[2048] = {};
  GetWindowTextW(window, text, 2048);
  return text;
}

// The static that holds a message box's text.
inline constexpr int kMessageBoxTextId = 0xFFFF;

inline std::wstring MessageBoxText(HWND box) { return TextOf(GetDlgItem(box, kMessageBoxTextId)); }

struct WindowSearch {
  const std::function<bool(HWND)>* accept;
  std::vector<HWND> found;
};

inline BOOL CALLBACK CollectWindow(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<WindowSearch*>(param);
  if (IsWindowVisible(window) && (*search->accept)(window)) search->found.push_back(window);
  return TRUE;
}

// Every visible top-level window for which accept says yes.
inline std::vector<HWND> TopWindows(const std::function<bool(HWND)>& accept) {
  WindowSearch search{&accept, {}};
  EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

inline std::vector<HWND> Children(HWND parent) {
  std::vector<HWND> children;
  for (HWND child = GetWindow(parent, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
    children.push_back(child);
  }
  return children;
}

// Has a window, also another process's, paint itself now, and waits until its
// thread has handled that.
inline void Repaint(HWND window) {
  RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
  DWORD_PTR ignored = 0;
  SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_BLOCK, 5000, &ignored);
}

// 24-bit bottom-up rows of the screen under rect, as a BMP holds them.
inline std::string Capture(const RECT& rect) {
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;
  std::string pixels(static_cast<std::size_t>((width * 3 + 3) & ~3) * static_cast<std::size_t>(height), '\0');
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
  SelectObject(memory, old);
  BITMAPINFO info{};
  info.bmiHeader = {sizeof info.bmiHeader, width, height, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
  GetDIBits(memory, bitmap, 0, static_cast<UINT>(height), pixels.data(), &info, DIB_RGB_COLORS);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return pixels;
}

// Writes the screen under the windows as a BMP once they have painted
// themselves: Wine paints, also for other processes, and hands the picture to
// the display asynchronously, so it counts once drawn and unchanged for a
// while shorter than a blink of the caret. False when it never settled.
inline bool Screenshot(const std::vector<HWND>& windows, const std::string& path) {
  using namespace std::chrono_literals;
  RECT rect{};
  for (HWND window : windows) {
    RECT own{};
    GetWindowRect(window, &own);
    UnionRect(&rect, &rect, &own);
    Repaint(window);
  }
  // A maximised window's frame lies beyond the screen, and Wine copies nothing
  // at all from a screen rectangle that does not lie wholly on it.
  const RECT screen{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  IntersectRect(&rect, &rect, &screen);
  std::string last = Capture(rect);
  auto changed = std::chrono::steady_clock::now();
  const bool settled = testing_support::WaitFor(
      [&] {
        std::string now = Capture(rect);
        if (now != last) {
          last = std::move(now);
          changed = std::chrono::steady_clock::now();
        }
        const bool drawn = std::any_of(last.begin(), last.end(), [&](char b) { return b != last[0]; });
        return drawn && std::chrono::steady_clock::now() - changed >= 300ms;
      },
      10s);
  BITMAPINFOHEADER header{sizeof header, rect.right - rect.left, rect.bottom - rect.top, 1, 24, BI_RGB,
                          static_cast<DWORD>(last.size()), 0, 0, 0, 0};
  BITMAPFILEHEADER file{};
  file.bfType = 0x4D42;
  file.bfOffBits = sizeof file + sizeof header;
  file.bfSize = file.bfOffBits + header.biSizeImage;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(&file), sizeof file);
  out.write(reinterpret_cast<const char*>(&header), sizeof header);
  out.write(last.data(), static_cast<std::streamsize>(last.size()));
  return settled && static_cast<bool>(out);
}

// The screenshot of a test step, as <name>.bmp in the directory the
// environment variable names; nothing to do (and true) when it names none.
inline bool ShootInto(const char* variable, const std::string& name, const std::vector<HWND>& windows) {
  const char* directory = std::getenv(variable);
  if (directory == nullptr || *directory == '\0') return true;
  return Screenshot(windows, std::string(directory) + "\\" + name + ".bmp");
}

}  // namespace wine_windows
