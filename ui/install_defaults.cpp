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

bool WriteInstallDefaults(std::uint16_t langId) {
  CTspConfig config(kTspConfigKey);
  // Every value is tried, in this order, whatever became of the one before.
  int stored = config.SetNumLines(1);
  stored += config.SetNumPhones(0);
  stored += config.SetChargeFormat(4);
  stored += config.SetChargePerUnit(DefaultChargePerUnit(langId));
  stored += config.SetCurrency("EUR");
  stored += config.SetPortNr(0);
  stored += config.SetTrace(0);
  stored += config.SetMSN(0, "10");
  return stored == 8;
}

void RemoveSettings() {
  CTspConfig config(kTspConfigKey);
  config.RemoveKey();
}
