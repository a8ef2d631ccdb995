// The settings sheet's three pages: connection, charges and info. Each loads
// its values from the store when it is created, exchanges them with its
// controls, checks them and writes them back on Apply. The sheet (the Win32
// property sheet, or SheetSession elsewhere) calls the framework steps below.
#pragma once

#include <cstdint>
#include <string>

#include "ui/page_view.h"
#include "ui/ui_texts.h"

// The user's settings that the pages follow, read once per sheet.
struct UserLocale {
  std::uint16_t langId;  // GetUserDefaultLangID
  char separator;        // see ChargeSeparator
};
UserLocale CurrentUserLocale();

class CConfigPage {
 public:
  // langId: the user's language, which the page's messages follow.
  explicit CConfigPage(std::uint16_t langId = 0) : m_language(SheetLanguageOf(langId)) {}
  virtual ~CConfigPage() = default;
  CConfigPage(const CConfigPage&) = delete;
  CConfigPage& operator=(const CConfigPage&) = delete;

  virtual int TemplateId(SheetLanguage language) const = 0;

  // The page's window was created and is shown for the first time.
  void InitDialog(PageView& view);
  // The page is shown again after another one: the controls take the values.
  void SetActive(PageView& view);
  // The user leaves the page (another page, OK or Apply): false keeps them on it.
  bool KillActive(PageView& view);
  // Writes the page's values; false refuses.
  bool Apply(PageView& view);
  void Notify(PageView& view, int controlId, ControlEvent event);

  bool HasWindow() const { return m_bHasWindow; }
  bool IsModified() const { return m_bModified; }

 protected:
  // Runs the exchange towards the controls; pages add what follows it.
  virtual void OnInitDialog(PageView& view);
  // save: from the controls into the page, with the checks; false when refused.
  virtual bool DoDataExchange(PageView& view, bool save) = 0;
  virtual void OnNotify(PageView& view, int controlId, ControlEvent event);
  virtual bool OnApply(PageView& view);
  void SetModified(PageView& view, bool modified);
  // The exchange towards the controls, which must not count as the user's edits.
  void LoadControls(PageView& view);
  const SheetTexts& Texts() const { return TextsFor(m_language); }
  // After a store write that did not land: the user is told why, and the page
  // keeps its values and its modified mark so that nothing typed is lost.
  bool RefuseUnsaved(PageView& view);

 private:
  SheetLanguage m_language;
  bool m_bHasWindow = false;
  bool m_bFirstActive = false;
  bool m_bModified = false;
  bool m_bLoading = false;
};

// Connection: the COM port, the MSN and the trace switch.
class CConfigPage1 : public CConfigPage {
 public:
  static constexpr int kMsnChars = 30;
  static constexpr int kPortCount = 6;

  explicit CConfigPage1(const UserLocale& locale);
  int TemplateId(SheetLanguage language) const override;

  std::int32_t m_nPortIndex = 0;
  std::uint32_t m_dwApplied = 0;
  std::string m_strMSN;
  bool m_bTrace = false;

 protected:
  void OnInitDialog(PageView& view) override;
  bool DoDataExchange(PageView& view, bool save) override;
  void OnNotify(PageView& view, int controlId, ControlEvent event) override;
  bool OnApply(PageView& view) override;
};

// The port list of every connection template, in order.
extern const char* const kPortNames[CConfigPage1::kPortCount];

// Charges: format, currency and charge per unit.
class CConfigPage2 : public CConfigPage {
 public:
  static constexpr int kCurrencyChars = 5;

  explicit CConfigPage2(const UserLocale& locale);
  int TemplateId(SheetLanguage language) const override;

  std::int32_t m_nChargeFormat = 0;
  std::string m_strCurrency;
  double m_dChargePerUnit = 0;

 protected:
  void OnInitDialog(PageView& view) override;
  bool DoDataExchange(PageView& view, bool save) override;
  void OnNotify(PageView& view, int controlId, ControlEvent event) override;
  bool OnApply(PageView& view) override;

 private:
  UserLocale m_locale;
};

// Info: the versions the running provider reported.
class CConfigPage3 : public CConfigPage {
 public:
  int TemplateId(SheetLanguage language) const override;

  std::string m_strProviderVersion;
  std::string m_strTapiVersion;
  std::string m_strInterfaceVersion;

 protected:
  bool DoDataExchange(PageView& view, bool save) override;
};
