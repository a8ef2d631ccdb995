// Opens the settings sheet as the exports do, with a script in place of the
// user and a stand-in provider behind the TUISPI callback that records every
// request it is sent.
#pragma once

#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "common/ui_request.h"
#include "tests/support/settings_fixture.h"
#include "ui/sheet_session.h"
#include "ui/show_config_sheet.h"

namespace ui_testing {

struct SentRequest {
  DWORD_PTR objectId;
  DWORD objectType;
  DWORD code;
  DWORD blockSize;
  DWORD sizeArgument;
};

// The provider's side of the callback: answers interface-info requests with
// `answer` (when answering) and records everything.
struct FakeProvider {
  static inline std::vector<SentRequest> requests;
  static inline bool answering = true;
  static inline UiRequest answer{};

  static void Reset() {
    requests.clear();
    answering = true;
    std::memset(&answer, 0, sizeof answer);
    answer.dwProviderVersionMS = 0x00010001;
    answer.dwProviderVersionLS = 0x00010000;
    answer.dwHighVersion = 0x00020002;
    answer.dwTSPIVersion = 0x00020002;
    std::strcpy(answer.szProviderName, "Kavrel Phone TSP");
  }

  static LONG TAPI_CALLBACK Callback(DWORD_PTR objectId, DWORD objectType, LPVOID params, DWORD size) {
    auto* request = static_cast<UiRequest*>(params);
    requests.push_back(SentRequest{objectId, objectType, request->dwRequest, request->dwSize, size});
    if (answering && request->dwRequest == UI_REQUEST_INTERFACE_INFO) {
      request->dwProviderVersionMS = answer.dwProviderVersionMS;
      request->dwProviderVersionLS = answer.dwProviderVersionLS;
      request->dwHighVersion = answer.dwHighVersion;
      request->dwTSPIVersion = answer.dwTSPIVersion;
      std::memcpy(request->szProviderName, answer.szProviderName, sizeof request->szProviderName);
    }
    return 0;
  }

  static int NotifyCount() {
    int count = 0;
    for (const SentRequest& request : requests) count += request.code == UI_REQUEST_NOTIFY_CHANGES ? 1 : 0;
    return count;
  }
};

// Plays the user: runs the script on the sheet, then cancels if it is still open.
class ScriptedRunner : public SheetRunner {
 public:
  using Script = std::function<void(SheetSession&)>;
  explicit ScriptedRunner(Script script) : script_(std::move(script)) {}

  SheetEnd RunModal(CConfigSheet& sheet) override {
    caption = sheet.Caption();
    language = sheet.Language();
    for (int i = 0; i < sheet.PageCount(); ++i) templates.push_back(sheet.TemplateId(i));
    SheetSession session(sheet);
    script_(session);
    if (!session.Ended()) session.PressCancel();
    return session.Result();
  }

  std::string caption;
  SheetLanguage language = SheetLanguage::kEnglish;
  std::vector<int> templates;

 private:
  Script script_;
};

inline constexpr UserLocale kEnglishPoint{0x0409, '.'};
inline constexpr UserLocale kGermanComma{0x0407, ','};

class SheetTest : public testing_support::SettingsTest {
 protected:
  void SetUp() override { FakeProvider::Reset(); }

  // Opens the sheet through ShowConfigSheet as TUISPI_providerConfig does.
  ScriptedRunner Open(ScriptedRunner::Script script, UserLocale locale = kEnglishPoint,
                      TUISPIDLLCALLBACK callback = &FakeProvider::Callback) {
    ScriptedRunner runner(std::move(script));
    EXPECT_EQ(ShowConfigSheet(nullptr, callback, 1, TUISPIDLL_OBJECT_PROVIDERID, runner, locale), 0);
    return runner;
  }
};

}  // namespace ui_testing
