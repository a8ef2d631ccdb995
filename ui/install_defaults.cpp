#include "ui/install_defaults.h"

#include "common/tsp_config.h"
#include "ui/ui_texts.h"

const char* DefaultChargePerUnit(std::uint16_t langId) {
  switch (PrimaryLanguage(langId)) {
    case kLangGerman:
      return "0.06";
    case kLangFrench:
      return "0.12";
    case kLangDutch:
      return "0.05";
    default:
      return "0.1";
  }
}

void WriteInstallDefaults(std::uint16_t langId) {
  CTspConfig config(kTspConfigKey);
  config.SetNumLines(1);
  config.SetNumPhones(0);
  config.SetChargeFormat(4);
  config.SetChargePerUnit(DefaultChargePerUnit(langId));
  config.SetCurrency("EUR");
  config.SetPortNr(0);
  config.SetTrace(0);
  config.SetMSN(0, "10");
}

void RemoveSettings() {
  CTspConfig config(kTspConfigKey);
  config.RemoveKey();
}
