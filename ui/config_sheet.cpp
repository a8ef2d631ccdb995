#include <cstdio>
#include <cstring>
#include <utility>

#include "common/ui_request.h"
#include "ui/show_config_sheet.h"

namespace {

// A cleared record with only the request code and the block size set.
void PrepareRequest(UiRequest* request, std::uint32_t code) {
  std::memset(request, 0, sizeof *request);
  request->dwRequest = code;
  request->dwSize = kUiRequestSize;
}

}  // namespace

CConfigSheet::CConfigSheet(std::string caption, void* parent, SheetLanguage language)
    : m_strCaption(std::move(caption)), m_hwndParent(parent), m_language(language) {}

void CConfigSheet::AddPage(CConfigPage* page) { m_pages.push_back(page); }

std::string ProviderVersionText(DWORD versionMS, DWORD versionLS) {
  if (versionMS == 0) return {};
  char text[64];
  std::snprintf(text, sizeof text, "%02i.%02i.%02i.%02i", static_cast<int>(versionMS >> 16),
                static_cast<int>(versionMS & 0xFFFF), static_cast<int>(versionLS >> 16),
                static_cast<int>(versionLS & 0xFFFF));
  return text;
}

std::string VersionText(DWORD version) {
  if (version == 0) return {};
  char text[32];
  std::snprintf(text, sizeof text, "%i.%i", static_cast<int>(version >> 16), static_cast<int>(version & 0xFFFF));
  return text;
}

LONG ShowConfigSheet(HWND owner, TUISPIDLLCALLBACK callback, DWORD_PTR objectId, DWORD objectType, SheetRunner& runner,
                     const UserLocale& locale) {
  const SheetLanguage language = SheetLanguageOf(locale.langId);

  UiRequest request;
  PrepareRequest(&request, UI_REQUEST_INTERFACE_INFO);
  if (callback != nullptr) callback(objectId, objectType, &request, kUiRequestSize);
  // The answer is another module's writing: never read past the field.
  request.szProviderName[sizeof request.szProviderName - 1] = '\0';

  const std::string caption = request.szProviderName[0] != '\0' ? request.szProviderName : kDefaultSheetCaption;
  CConfigSheet sheet(caption, owner, language);
  CConfigPage1 connection(locale);
  CConfigPage2 charges(locale);
  CConfigPage3 info;
  info.m_strProviderVersion = ProviderVersionText(request.dwProviderVersionMS, request.dwProviderVersionLS);
  info.m_strTapiVersion = VersionText(request.dwHighVersion);
  info.m_strInterfaceVersion = VersionText(request.dwTSPIVersion);
  sheet.AddPage(&connection);
  sheet.AddPage(&charges);
  sheet.AddPage(&info);

  const SheetEnd end = runner.RunModal(sheet);

  // OK runs the connection page's Apply as well, so its flag alone would do;
  // both are asked as the user sees them. A sheet whose writes were all
  // refused cannot end with OK and never sets the flag: no news to send.
  if (end == SheetEnd::kOk || connection.m_dwApplied != 0) {
    PrepareRequest(&request, UI_REQUEST_NOTIFY_CHANGES);
    if (callback != nullptr) callback(objectId, objectType, &request, kUiRequestSize);
  }
  return 0;
}
