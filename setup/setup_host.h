// What the installer's flow asks of the system, as one interface: the Win32
// program implements it, tests fake it. Free of TAPI's and Windows' headers so
// that the Win32 side can include it beside <windows.h>.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "setup/setup_messages.h"
#include "setup/tapi_library.h"

namespace setup {

// The private messages, as offsets from WM_USER.
enum class Step : std::uint32_t { kStart = 1, kCopyAndAdd = 3, kReplace = 4, kConfigure = 5 };

inline constexpr char kProviderFileName[] = "k482tsp.tsp";
inline constexpr char kProviderPackageName[] = "k482tsp.ts0";
inline constexpr char kUiModuleFileName[] = "ui482tsp.dll";
inline constexpr char kUiModulePackageName[] = "ui482tsp.dl0";
// The 32-bit UI module in the x64 package, for 32-bit applications on 64-bit Windows.
inline constexpr char kUiModule32PackageName[] = "ui482tsp32.dl0";
inline constexpr std::uint32_t kErrorCallNotImplemented = 120;

class SetupHost {
 public:
  virtual ~SetupHost() = default;

  // The string resource of that ID.
  virtual std::u16string LoadText(int id) = 0;
  // A message box owned by the main window.
  virtual BoxAnswer ShowBox(BoxForm form, const std::u16string& caption, const std::u16string& text) = 0;

  // Loads "tapi32.dll" from the system directory and keeps it loaded until the program exits.
  virtual bool LoadTapiLibrary() = 0;
  // A 32-bit program running on 64-bit Windows.
  virtual bool IsWow64Process() = 0;

  // Each false with *error the system's error code.
  virtual bool SystemDirectory(std::string* directory, std::uint32_t* error) = 0;
  virtual bool Wow64SystemDirectory(std::string* directory, std::uint32_t* error) = 0;
  virtual bool CopyFileReplacing(const std::string& from, const std::string& to, std::uint32_t* error) = 0;
  virtual bool SetNormalAttributes(const std::string& path, std::uint32_t* error) = 0;
  virtual std::u16string SystemErrorText(std::uint32_t code) = 0;

  virtual std::string ProgramPath() = 0;
  // The shell's "open" on a document, its window maximised; failures are not reported.
  virtual void ShellOpenMaximised(const std::string& path) = 0;
  virtual void Pause(std::chrono::milliseconds duration) = 0;

  // The main window's handle, owner of TAPI's dialogs.
  virtual void* MainWindow() = 0;
  // Posts a step to the main window, or WM_CLOSE to it.
  virtual void Post(Step step, std::uint32_t param) = 0;
  virtual void End() = 0;
};

struct SetupOptions {
  // The x64 package also installs the 32-bit UI module.
  bool install32BitUiModule = false;
};

// Runs the step of a private message.
class StepHandler {
 public:
  virtual ~StepHandler() = default;
  virtual void Dispatch(Step step, std::uint32_t param) = 0;
};

// The flow with TAPI32.DLL bound by name behind it, loaded through library.
std::unique_ptr<StepHandler> MakeInstaller(SetupHost& host, std::unique_ptr<TapiLibrary> library,
                                           std::uint16_t langId, SetupOptions options);

}  // namespace setup
