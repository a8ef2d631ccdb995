#include "setup/setup_flow.h"

#include "setup/provider_list.h"
#include "setup/tapi_binding.h"

namespace setup {

namespace {

void TAPI_CALLBACK IgnoreLineMessage(DWORD, DWORD, DWORD_PTR, DWORD_PTR, DWORD_PTR, DWORD_PTR) {}

HWND Owner(SetupHost& host) { return static_cast<HWND>(host.MainWindow()); }

std::string JoinPath(const std::string& directory, const char* name) { return directory + "\\" + name; }

}  // namespace

CSetupFlow::CSetupFlow(SetupHost& host, TapiApi& tapi, std::uint16_t langId, SetupOptions options)
    : host_(host), tapi_(tapi), language_(GroupOfLanguage(langId)), options_(options) {}

void CSetupFlow::Dispatch(Step step, std::uint32_t param) {
  switch (step) {
    case Step::kStart:
      OnStart();
      break;
    case Step::kCopyAndAdd:
      OnCopyAndAdd();
      break;
    case Step::kReplace:
      OnReplace(param);
      break;
    case Step::kConfigure:
      OnConfigure();
      break;
  }
}

std::u16string CSetupFlow::Text(Message message) { return host_.LoadText(MessageId(message, language_)); }

BoxAnswer CSetupFlow::Box(BoxForm form, const std::u16string& text) {
  const std::u16string caption = StyleOfForm(form).errorCaption ? kErrorCaption : host_.LoadText(kIdTitle);
  return host_.ShowBox(form, caption, text);
}

void CSetupFlow::HardError(Message message) { Box(BoxForm::kHardError, Text(message)); }

void CSetupFlow::SystemError(std::uint32_t error) {
  Box(BoxForm::kHardError, FormatSystemError(Text(Message::kSystemError), host_.SystemErrorText(error)));
}

void CSetupFlow::OnStart() {
  // The 32-bit package on 64-bit Windows would register a provider that the
  // 64-bit telephony service cannot load, and still report success.
  if (host_.IsWow64Process()) {
    HardError(Message::kWrongPackage);
    host_.End();
    return;
  }
  if (!host_.LoadTapiLibrary()) {
    HardError(Message::kTapiNotAvailable);
    host_.End();
    return;
  }
  if (Box(BoxForm::kQuestionYesNo, Text(Message::kInstallQuestion)) != BoxAnswer::kYes) {
    host_.End();
    return;
  }
  if (const auto found = FindProvider(tapi_, kProviderFileName)) {
    host_.Post(Step::kReplace, *found);
  } else {
    host_.Post(Step::kCopyAndAdd, 0);
  }
}

void CSetupFlow::OnReplace(DWORD permanentProviderId) {
  if (Box(BoxForm::kQuestionOkCancel, Text(Message::kReplaceQuestion)) != BoxAnswer::kOk) {
    host_.End();
    return;
  }
  if (tapi_.lineRemoveProvider(permanentProviderId, nullptr) != 0) {
    HardError(Message::kRemovalFailed);
    host_.End();
    return;
  }
  host_.Pause(std::chrono::milliseconds(200));
  host_.Post(Step::kCopyAndAdd, 0);
}

bool CSetupFlow::Install(const std::string& directory, const char* packageName, const char* installedName) {
  const std::string target = JoinPath(directory, installedName);
  std::uint32_t error = 0;
  // Fails while the file does not exist yet; only a read-only old copy matters.
  host_.SetNormalAttributes(target, &error);
  if (!host_.CopyFileReplacing(packageName, target, &error) || !host_.SetNormalAttributes(target, &error)) {
    SystemError(error);
    host_.End();
    return false;
  }
  return true;
}

void CSetupFlow::OnCopyAndAdd() {
  std::string systemDirectory;
  std::uint32_t error = 0;
  if (!host_.SystemDirectory(&systemDirectory, &error)) {
    SystemError(error);
    host_.End();
    return;
  }
  if (!Install(systemDirectory, kProviderPackageName, kProviderFileName)) return;
  if (!Install(systemDirectory, kUiModulePackageName, kUiModuleFileName)) return;
  if (options_.install32BitUiModule) {
    // 32-bit applications load the UI module from the 32-bit system directory.
    std::string wow64Directory;
    if (host_.Wow64SystemDirectory(&wow64Directory, &error)) {
      if (!Install(wow64Directory, kUiModule32PackageName, kUiModuleFileName)) return;
    } else if (error != kErrorCallNotImplemented) {
      // A 64-bit Windows without its 32-bit part has no 32-bit applications to serve.
      SystemError(error);
      host_.End();
      return;
    }
  }

  if (tapi_.lineAddProvider(kProviderFileName, Owner(host_), &permanentProviderId_) != 0) {
    Box(BoxForm::kTapiError, Text(Message::kAddingFailed));
    host_.End();
    return;
  }
  host_.Post(Step::kConfigure, 0);
}

void CSetupFlow::OnConfigure() {
  HLINEAPP lineApp = 0;
  DWORD numDevices = 0;
  DWORD apiVersion = kInitializeApiVersion;
  const LONG initialized =
      tapi_.lineInitializeEx(&lineApp, nullptr, IgnoreLineMessage, nullptr, &numDevices, &apiVersion, nullptr);
  if (initialized != 0) {
    Box(BoxForm::kCodeNote, CodeNote("lineInitializeEx", static_cast<std::uint32_t>(initialized)));
    Box(BoxForm::kTapiError, Text(Message::kConfigurationFailed));
    host_.End();
    return;
  }
  const LONG configured = tapi_.lineConfigProvider(Owner(host_), permanentProviderId_);
  if (configured != 0) {
    Box(BoxForm::kCodeNote, CodeNote("lineConfigProvider", static_cast<std::uint32_t>(configured)));
    Box(BoxForm::kTapiError, Text(Message::kConfigurationFailed));
    tapi_.lineShutdown(lineApp);
    host_.End();
    return;
  }
  tapi_.lineShutdown(lineApp);
  Finish();
}

void CSetupFlow::Finish() {
  Box(BoxForm::kNote, Text(Message::kSuccess));
  // The read-me lies beside the program, wherever the current directory is.
  const std::string program = host_.ProgramPath();
  const std::size_t slash = program.find_last_of("\\/");
  std::string directory = slash == std::string::npos ? std::string() : program.substr(0, slash + 1);
  if (directory.empty() && program.size() >= 2 && program[1] == ':') directory = program.substr(0, 2);
  host_.ShellOpenMaximised(directory + ReadMeName(language_) + ".txt");
  host_.End();
}

}  // namespace setup

namespace setup {

namespace {

// The binding lives as long as the flow that uses it.
class Installer final : public StepHandler {
 public:
  Installer(SetupHost& host, std::unique_ptr<TapiLibrary> library, std::uint16_t langId, SetupOptions options)
      : tapi_(std::move(library)), flow_(host, tapi_, langId, options) {}
  void Dispatch(Step step, std::uint32_t param) override { flow_.Dispatch(step, param); }

 private:
  CTapiBinding tapi_;
  CSetupFlow flow_;
};

}  // namespace

std::unique_ptr<StepHandler> MakeInstaller(SetupHost& host, std::unique_ptr<TapiLibrary> library,
                                           std::uint16_t langId, SetupOptions options) {
  return std::make_unique<Installer>(host, std::move(library), langId, options);
}

}  // namespace setup
