#include "ui/config_pages.h"

#include <cmath>

#include "common/tsp_config.h"
#include "platform/system.h"
#include "ui/charge_text.h"

namespace {

constexpr std::uint32_t kDefaultChargeFormat = 4;

int FormatButton(std::int32_t format) { return IDC_FORMAT_UNITS + format - 1; }

}  // namespace

const char* const kPortNames[CConfigPage1::kPortCount] = {"COM1", "COM2", "COM3", "COM4", "COM5", "COM6"};

UserLocale CurrentUserLocale() {
  std::string separator;
  const bool known = platform::MonetaryDecimalSeparator(&separator);
  return UserLocale{platform::UserDefaultLangId(), ChargeSeparator(known ? &separator : nullptr)};
}

// ---------------------------------------------------------------------------
// The framework steps every page shares.

void CConfigPage::InitDialog(PageView& view) {
  m_bHasWindow = true;
  m_bFirstActive = true;
  const bool loading = m_bLoading;
  m_bLoading = true;
  OnInitDialog(view);
  m_bLoading = loading;
}

void CConfigPage::SetActive(PageView& view) {
  // The first activation follows the initialisation, which just filled the controls.
  if (m_bFirstActive) {
    m_bFirstActive = false;
    return;
  }
  LoadControls(view);
}

bool CConfigPage::KillActive(PageView& view) { return DoDataExchange(view, true); }

bool CConfigPage::Apply(PageView& view) { return OnApply(view); }

void CConfigPage::Notify(PageView& view, int controlId, ControlEvent event) {
  // Filling the controls sends change notifications too; only the user's edits modify the page.
  if (m_bLoading) return;
  OnNotify(view, controlId, event);
}

void CConfigPage::OnInitDialog(PageView& view) { LoadControls(view); }

void CConfigPage::OnNotify(PageView&, int, ControlEvent) {}

bool CConfigPage::OnApply(PageView& view) {
  SetModified(view, false);
  return true;
}

void CConfigPage::SetModified(PageView& view, bool modified) {
  m_bModified = modified;
  view.SetModified(modified);
}

bool CConfigPage::RefuseUnsaved(PageView& view) {
  view.ShowMessage(Texts().saveFailedMessage);
  return false;
}

void CConfigPage::LoadControls(PageView& view) {
  const bool loading = m_bLoading;
  m_bLoading = true;
  DoDataExchange(view, false);
  m_bLoading = loading;
}

// ---------------------------------------------------------------------------
// Connection page.

CConfigPage1::CConfigPage1(const UserLocale& locale) : CConfigPage(locale.langId) {
  CTspConfig config(kTspConfigKey);
  m_nPortIndex = static_cast<std::int32_t>(config.GetPortNr());
  m_strMSN = config.GetMSN(0);
  m_bTrace = config.GetTrace() != 0;
  m_dwApplied = 0;
}

int CConfigPage1::TemplateId(SheetLanguage language) const { return TextsFor(language).connectionTemplate; }

void CConfigPage1::OnInitDialog(PageView& view) {
  view.LimitText(IDC_MSN, kMsnChars);
  CConfigPage::OnInitDialog(view);
  const bool fits = m_nPortIndex >= 0 && m_nPortIndex < kPortCount;
  view.SetSelection(IDC_PORT_LIST, fits ? m_nPortIndex : -1);
}

bool CConfigPage1::DoDataExchange(PageView& view, bool save) {
  if (!save) {
    view.SetText(IDC_MSN, m_strMSN);
    view.SetCheck(IDC_TRACE, m_bTrace);
    return true;
  }
  // Only a value stored by other means can be longer: the field takes no more.
  std::string msn = view.GetText(IDC_MSN);
  if (msn.size() > static_cast<std::size_t>(kMsnChars)) {
    view.ShowMessage(Texts().textLengthMessage, std::to_string(kMsnChars));
    view.FocusControl(IDC_MSN);
    return false;
  }
  m_strMSN = std::move(msn);
  m_bTrace = view.IsChecked(IDC_TRACE);
  return true;
}

void CConfigPage1::OnNotify(PageView& view, int controlId, ControlEvent event) {
  if (controlId == IDC_PORT_LIST && event == ControlEvent::kSelectionChanged) {
    int selection = view.GetSelection(IDC_PORT_LIST);
    if (selection < 0) {
      selection = 0;
      view.SetSelection(IDC_PORT_LIST, 0);
    }
    m_nPortIndex = selection;
    SetModified(view, true);
  } else if ((controlId == IDC_MSN && event == ControlEvent::kTextChanged) ||
             (controlId == IDC_TRACE && event == ControlEvent::kClicked)) {
    SetModified(view, true);
  }
}

bool CConfigPage1::OnApply(PageView& view) {
  int selection = view.GetSelection(IDC_PORT_LIST);
  if (selection < 0) {
    // Typing into the list's field leaves it without a selection; a typed name
    // of the list still means that port, anything else the first one.
    selection = view.FindEntry(IDC_PORT_LIST, view.GetText(IDC_PORT_LIST));
    if (selection < 0) selection = 0;
    view.SetSelection(IDC_PORT_LIST, selection);
  }
  m_nPortIndex = selection;
  CTspConfig config(kTspConfigKey);
  int stored = config.SetPortNr(static_cast<std::uint32_t>(m_nPortIndex));
  stored += config.SetMSN(0, m_strMSN.c_str());
  stored += config.SetTrace(m_bTrace ? 1 : 0);
  // Whatever landed is news for the provider; nothing landed, no news.
  if (stored != 0) m_dwApplied = 1;
  if (stored != 3) return RefuseUnsaved(view);
  SetModified(view, false);
  return true;
}

// ---------------------------------------------------------------------------
// Charges page.

CConfigPage2::CConfigPage2(const UserLocale& locale) : CConfigPage(locale.langId), m_locale(locale) {
  CTspConfig config(kTspConfigKey);
  // An emptied currency stays empty in the store; the page offers EUR again.
  m_strCurrency = config.GetCurrency();
  if (m_strCurrency.empty()) m_strCurrency = "EUR";
  const double charge = ParseStoredCharge(config.GetChargePerUnit());
  if (charge > 0 && std::isfinite(charge)) {
    m_dChargePerUnit = charge;
  } else {
    m_dChargePerUnit = 0;
    config.SetChargePerUnit("0");
  }
  m_nChargeFormat = static_cast<std::int32_t>(config.GetChargeFormat());
}

int CConfigPage2::TemplateId(SheetLanguage language) const { return TextsFor(language).chargesTemplate; }

void CConfigPage2::OnInitDialog(PageView& view) {
  view.LimitText(IDC_CURRENCY, kCurrencyChars);
  CConfigPage::OnInitDialog(view);
  if (m_nChargeFormat < 1 || m_nChargeFormat > 4) {
    m_nChargeFormat = static_cast<std::int32_t>(kDefaultChargeFormat);
    CTspConfig config(kTspConfigKey);
    config.SetChargeFormat(kDefaultChargeFormat);
  }
  for (int id = IDC_FORMAT_UNITS; id <= IDC_FORMAT_AOCD_CURRENCY; ++id) {
    view.SetCheck(id, id == FormatButton(m_nChargeFormat));
  }
}

bool CConfigPage2::DoDataExchange(PageView& view, bool save) {
  if (!save) {
    view.SetText(IDC_CURRENCY, m_strCurrency);
    view.SetText(IDC_CHARGE_PER_UNIT, FormatChargeForField(m_dChargePerUnit, m_locale.separator));
    return true;
  }
  std::string currency = view.GetText(IDC_CURRENCY);
  if (currency.size() > static_cast<std::size_t>(kCurrencyChars)) {
    view.ShowMessage(Texts().textLengthMessage, std::to_string(kCurrencyChars));
    view.FocusControl(IDC_CURRENCY);
    return false;
  }
  m_strCurrency = std::move(currency);
  const ParsedCharge charge = ParseChargeField(view.GetText(IDC_CHARGE_PER_UNIT), m_locale.separator);
  if (!charge.valid) {
    view.ShowMessage(EnterNumberMessageId(m_locale.langId));
    view.FocusControl(IDC_CHARGE_PER_UNIT);
    return false;
  }
  if (charge.value < 0 || charge.value > kMaxChargePerUnit) {
    view.ShowMessage(Texts().numberRangeMessage, "0", "32766");
    view.FocusControl(IDC_CHARGE_PER_UNIT);
    return false;
  }
  m_dChargePerUnit = charge.value;
  return true;
}

void CConfigPage2::OnNotify(PageView& view, int controlId, ControlEvent event) {
  if (event == ControlEvent::kTextChanged && (controlId == IDC_CHARGE_PER_UNIT || controlId == IDC_CURRENCY)) {
    SetModified(view, true);
  } else if (event == ControlEvent::kClicked && controlId >= IDC_FORMAT_UNITS &&
             controlId <= IDC_FORMAT_AOCD_CURRENCY) {
    m_nChargeFormat = controlId - IDC_FORMAT_UNITS + 1;
    SetModified(view, true);
  }
}

bool CConfigPage2::OnApply(PageView& view) {
  CTspConfig config(kTspConfigKey);
  int stored = config.SetChargeFormat(static_cast<std::uint32_t>(m_nChargeFormat));
  stored += config.SetCurrency(m_strCurrency.c_str());
  stored += config.SetChargePerUnit(FormatChargeForStore(m_dChargePerUnit).c_str());
  if (stored != 3) return RefuseUnsaved(view);
  SetModified(view, false);
  return true;
}

// ---------------------------------------------------------------------------
// Info page.

int CConfigPage3::TemplateId(SheetLanguage language) const { return TextsFor(language).infoTemplate; }

bool CConfigPage3::DoDataExchange(PageView& view, bool save) {
  if (!save) {
    view.SetText(IDC_PROVIDER_VERSION, m_strProviderVersion);
    view.SetText(IDC_TAPI_VERSION, m_strTapiVersion);
    view.SetText(IDC_INTERFACE_VERSION, m_strInterfaceVersion);
  }
  return true;
}
