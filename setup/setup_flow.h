// The installer's flow: one step per private window message, each started
// from the message loop. Every question, copy and shell request goes through
// SetupHost, every TAPI call through TapiApi.
#pragma once

#include "setup/setup_host.h"
#include "setup/tapi_app.h"

namespace setup {

class CSetupFlow final : public StepHandler {
 public:
  CSetupFlow(SetupHost& host, TapiApi& tapi, std::uint16_t langId, SetupOptions options);

  void Dispatch(Step step, std::uint32_t param) override;
  void OnStart();
  void OnReplace(DWORD permanentProviderId);
  void OnCopyAndAdd();
  void OnConfigure();

  LanguageGroup language() const { return language_; }
  DWORD permanentProviderId() const { return permanentProviderId_; }

 private:
  std::u16string Text(Message message);
  BoxAnswer Box(BoxForm form, const std::u16string& text);
  void HardError(Message message);
  void SystemError(std::uint32_t error);
  // Copies one module into directory under its installed name; false after
  // reporting the failure.
  bool Install(const std::string& directory, const char* packageName, const char* installedName);
  void Finish();

  SetupHost& host_;
  TapiApi& tapi_;
  LanguageGroup language_;
  SetupOptions options_;
  DWORD permanentProviderId_ = 0;
};

}  // namespace setup
